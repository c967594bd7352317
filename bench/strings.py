# String building: lines made piece by piece by concatenation, restarted every 25 pieces.
def main():
    i = 0
    n = 0
    line = ''
    last = ''
    while True:
        i = i + 1
        line = line + 'item' + str(i) + ','
        if i % 25 == 0:
            n = n + 1
            last = line
            line = ''
        if not i < 300000:
            break
    print(n)
    print(last)


main()
