# Sort of 1,000,000 integers (a pseudo-random sequence), ascending; the smallest, the median,
# the largest and a checksum of the order.
def main():
    n = 1000000
    a = []
    x = 12345
    for _ in range(n):
        x = (x * 1103515245 + 12345) % 2147483648
        a.append(x)
    a.sort()
    ck = 0
    for v in a:
        ck = (ck * 31 + v % 1000) % 1000000007
    print(a[0], a[n // 2 - 1], a[n - 1], ck)
main()
