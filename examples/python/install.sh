/usr/bin/python3 -m venv ~/venvs/byteblend
~/venvs/byteblend/bin/pip install . Pillow
