# Tables: 1,000,000 distinct keys stored and read back, twice (as the PELLUX task does with a
# growing table and with one made with room for all of them).
def main():
    n = 1000000
    for _ in range(2):
        t = {}
        for i in range(1, n + 1):
            t['K' + str(i)] = i
        s = 0
        for i in range(1, n + 1):
            s += t['K' + str(i)]
        print(s)
        t = None
main()
