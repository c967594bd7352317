{} -1000 data.txt
