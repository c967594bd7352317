# Tight arithmetic loop: integer additions, products, divisions and remainders.
def main():
    i = 0
    s = 0
    while True:
        i = i + 1
        s = s + (i * 7) % 13 - i // 3
        if not i < 2000000:
            break
    print(s)


main()
