# String functions: records made by padding and repetition, cut apart, translated and trimmed.
def main():
    lower = 'abcdefghijklmnopqrstuvwxyz'
    upper = 'ABCDEFGHIJKLMNOPQRSTUVWXYZ'
    table = str.maketrans(lower, upper)
    i = 0
    total = 0
    while True:
        i = i + 1
        k = i % 26
        w = lower[k:k + 5]
        r = str(i).rjust(8, '0') + ':' + w.translate(table) + ' ' * (i % 4)
        t = r.rstrip(' \t')
        total = total + len(t) + len(r)
        if i % 50000 == 0:
            print(t)
        if not i < 500000:
            break
    print(total)


main()
