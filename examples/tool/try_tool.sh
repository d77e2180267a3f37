byteblend --list
byteblend demo gallery
byteblend color-dodge gallery/top.png gallery/bottom.png dodged.png
byteblend screen gallery/top.png gallery/bottom.png photo.jpg
byteblend --quality 80 overlay gallery/top.png photo.jpg overlaid.jpg
byteblend lighten --at 96,-40 gallery/top.png photo.jpg placed.png
byteblend normal --at 120,100 --opacity 70% gallery/layers/layer.png photo.jpg logo.jpg
byteblend multiplication gallery/top.png --out-dir blended gallery/*.png photo.jpg
