# Balanced parentheses: expressions made of nested brackets are checked whole by a
# recursive-descent parser, and their balanced units are counted.
import sys

sys.setrecursionlimit(10000)
DIGITS = set('0123456789x')


def nest(n):
    if n == 0:
        return 'x'
    return '(' + nest(n - 1) + '+' + str(n % 10) + ')'


def term(s, i):
    if i < len(s) and s[i] in DIGITS:
        while i < len(s) and s[i] in DIGITS:
            i += 1
        return i
    if i < len(s) and s[i] == '(':
        j = expr(s, i + 1)
        if j >= 0 and j < len(s) and s[j] == ')':
            return j + 1
    return -1


def expr(s, i):
    i = term(s, i)
    while i >= 0 and i < len(s) and s[i] in '+-*':
        j = term(s, i + 1)
        if j < 0:
            break
        i = j
    return i


def units(s):
    count = 0
    i = 0
    while i < len(s):
        c = s[i]
        if c == ')':
            i += 1
            continue
        if c == '(':
            depth = 0
            while True:
                if s[i] == '(':
                    depth += 1
                elif s[i] == ')':
                    depth -= 1
                i += 1
                if depth == 0:
                    break
        else:
            i += 1
        count += 1
    return count


def main():
    good = 0
    unitcount = 0
    for i in range(1, 20001):
        s = nest(i % 12) + '*' + nest(i % 5) + '-' + str(i)
        if i % 7 == 0:
            s = s + ')'
        if expr(s, 0) == len(s):
            good += 1
        unitcount += units(s)
    print(good)
    print(unitcount)


main()
