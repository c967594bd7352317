# ARBNO-based parsing, matched per line: lines of key=value; pairs are checked against the
# grammar and the last pair of each good line is taken apart.
import re

LINE = re.compile(r'(?:([a-z0-9]+)=([a-z0-9]*);)*')


def main():
    good = 0
    total = 0
    keys = 0
    for i in range(1, 50001):
        line = 'id=%d;name=n%d;' % (i, i % 13)
        if i % 3 > 0:
            line += 'size=%d;' % (i * 7 % 1000)
        if i % 11 == 0:
            line += 'bad pair;'
        if i % 5 > 1:
            line += 'opt=;tag=t%d;' % i
        m = LINE.fullmatch(line)
        if m is None:
            continue
        good += 1
        total += len(m.group(2) or '')
        keys += len(m.group(1) or '')
    print(good)
    print(total)
    print(keys)


main()
