# Record input: a 16 MiB text file read line by line; the number of lines and of characters.
def main():
    n = 0
    t = 0
    with open("lines.txt") as f:
        for line in f:
            t += len(line) - 1
            n += 1
    print(n)
    print(t)


main()
