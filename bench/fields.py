# Field splitting: comma-separated records taken apart field by field, numbers picked out;
# the number of fields, the sum of the numeric ones, the longest name.
def main():
    nf = 0
    total = 0
    longest = ''
    for i in range(1, 100001):
        line = 'rec%d,name%dx,%d,alpha beta,%d,' % (i, i * 7 % 1000, i % 97, i * 3)
        for f in line.split(',')[:-1]:
            nf += 1
            if f.isdigit():
                total += int(f)
            elif len(f) > len(longest):
                longest = f
    print(nf)
    print(total)
    print(longest)


main()
