cc blend.c $(pkg-config --cflags --libs byteblend) -o blend
