byteblend --list
byteblend demo gallery
byteblend color-dodge gallery/top.png gallery/bottom.png dodged.png
