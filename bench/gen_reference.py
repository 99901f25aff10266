#!/usr/bin/env python3
"""A plain Python generator of records equivalent to ipnd-gen's valid RAWLOG
output: the same four shapes, the same lists and number ranges, one log line
per record. The benchmark times it side by side with ipnd-gen.

usage: gen_reference.py COUNT SEED OUTPUT
"""
import random
import sys
from datetime import date, timedelta

GIVEN = ["Tavo", "Mirel", "Asha", "Borin", "Calla", "Dovan", "Elsbet", "Ferin", "Galen", "Hesper", "Ivo",
         "Jorun", "Kesta", "Lenn", "Marlo", "Nessa", "Orrin", "Pella", "Quill", "Rhosa", "Sefton", "Tamsin",
         "Ulla", "Wendel"]
SURNAMES = ["Pelmarsh", "Quenderwick", "Tozeran", "Morvane", "Galderis", "Ashcombe", "Brindlecott", "Corvath",
            "Dunmoral", "Elbrook", "Fenwold", "Harrowgate", "Kilvane", "Larkspurn", "Merriden", "Norcottle",
            "Oswaldine", "Penrick"]
TITLES = ["Mr", "Ms", "Mrs", "Dr", "Mx"]
BUSINESSES = ["Hardware", "Dental Rooms", "Bakery", "Motors", "TV Station", "Pharmacy", "Veterinary Clinic",
              "Surveyors", "Book Exchange", "Tyre Service"]
BUILDING_TYPES = ["RM", "UNIT", "SHOP", "SUITE", "FLAT"]
FLOOR_TYPES = ["FL", "L", "B", "G"]
PROPERTIES = ["Main Building", "North Wing", "Harbour House", "Civic Centre", "Arcade Court", "Riverside Tower"]
STREETS = ["Corvanna", "Maplethorn", "Quarryman", "Windle", "Ashgrove", "Bellbird", "Cobblers", "Drover",
           "Fernleigh", "Gullyview", "Kestrel", "Lantern"]
STREET_TYPES = ["St", "Rd", "Ave", "Cres", "Pde", "Ct", "Pl", "Dr", "Lane"]
LOCALITIES = ["MELLIS", "HOPEVALE EAST", "BRAMBLEDENE", "CORRAWONG", "DUNVALE", "EASTMERE", "FARROWBY",
              "GLENTHORN", "KILLORAN FLATS", "WATTLE CREEK"]
DISTRICTS = ["Central", "North Shore", "Riverlands", "Western Plains", "Highlands", "Coastal"]
SERVICE_TYPES = ["AAA", "BUS", "RES", "PAY"]
PROVIDERS = ["TELSTR", "MNET", "PRVX", "NETQ", "LNKA"]
MOBILE_AREAS = ["MELBOURNE", "SYDNEY", "REGIONAL", "METRO", "COUNTRY"]
MOBILE_NUMBERS = ["0491570006", "0491570110", "0491570156", "0491570157", "0491570158", "0491570159",
                  "0491570313", "0491570737"]
STATES = [("VIC", "FIXED NETWORK VIC", 3000, 3999, "3"), ("NSW", "FIXED NETWORK NSW", 2000, 2599, "2"),
          ("QLD", "FIXED NETWORK QLD", 4000, 4999, "7"), ("TAS", "FIXED NETWORK TAS", 7000, 7799, "3"),
          ("ACT", "FIXED NETWORK ACT", 2600, 2618, "2"), ("SA", "FIXED NETWORK SA", 5000, 5799, "8"),
          ("WA", "FIXED NETWORK WA", 6000, 6799, "8"), ("NT", "FIXED NETWORK NT", 800, 899, "8")]
FILLER = "QUENDERWICK LARKSPURN_FENWOLD-CORVATH:ASHCOMBE*"
NO_ADDRESS = "*Address Not Available*"
UPPER = "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
# (width, content) of the 53 fields
TABLE = [(8, "id"), (7, "d"), (10, "date"), (8, "time"), (20, "d"), (1, "L"), (40, "t"), (40, "t"), (80, "t"),
         (12, "t"), (6, "t"), (5, "d"), (1, "t"), (5, "d"), (1, "t"), (2, "t"), (4, "d"), (1, "t"), (40, "t"),
         (30, "t"), (5, "d"), (3, "t"), (5, "d"), (1, "t"), (1, "t"), (1, "t"), (1, "L"), (25, "t"), (8, "t"),
         (6, "t"), (25, "t"), (4, "t"), (2, "t"), (40, "t"), (25, "t"), (3, "state"), (4, "d"), (2, "LL"),
         (1, "flag"), (5, "t"), (40, "t"), (40, "t"), (20, "d"), (3, "d"), (6, "t"), (19, "dt"), (19, "dt"),
         (1, "flag"), (3, "d"), (17, "t"), (3, "state"), (1, "flag"), (1, "flag")]


def rand_date(r):
    year = r.randint(1995, 2026)
    month = r.randint(1, 12)
    days = [31, 29 if (year % 4 == 0 and year % 100 != 0) or year % 400 == 0 else 28, 31, 30, 31, 30, 31, 31,
            30, 31, 30, 31][month - 1]
    return f"{year:04d}-{month:02d}-{r.randint(1, days):02d}"


def rand_time(r):
    s = r.randrange(86400)
    return f"{s // 3600:02d}:{s // 60 % 60:02d}:{s % 60:02d}"


def fixed_number(r, area):
    return f"0{area}55500{r.randrange(1000):03d}"


def full_address(r, rid, st):
    f = [""] * 53
    f[0] = f"{rid:08d}"
    f[1] = str(r.randint(10000, 9999999))
    f[2] = rand_date(r)
    f[3] = rand_time(r)
    f[4] = fixed_number(r, st[4])
    f[5] = r.choice(UPPER)
    f[6] = r.choice(GIVEN)
    f[7] = r.choice(SURNAMES)
    if r.random() < 0.5:
        f[8] = r.choice(GIVEN) + " " + r.choice(SURNAMES)
    else:
        f[8] = "The " + r.choice(SURNAMES) + " " + r.choice(BUSINESSES)
    f[9] = r.choice(TITLES)
    if r.random() < 0.4:
        f[10] = r.choice(BUILDING_TYPES)
    if f[10] and r.random() < 0.6:
        f[11] = str(r.randint(1, 999))
    if f[11] and r.random() < 0.3:
        f[12] = r.choice("ABCDEF")
    if f[12] and r.random() < 0.3:
        f[13] = str(r.randint(1, 999))
    if f[13] and r.random() < 0.3:
        f[14] = r.choice("ABCDEF")
    if r.random() < 0.3:
        f[15] = r.choice(FLOOR_TYPES)
    if f[15]:
        f[16] = str(r.randint(1, 120))
    if f[16] and r.random() < 0.3:
        f[17] = r.choice("ABCDEF")
    if r.random() < 0.3:
        f[18] = r.choice(PROPERTIES)
    f[20] = str(r.randint(1, 9999))
    if r.random() < 0.15:
        f[21] = r.choice("ABCD")
    if r.random() < 0.2:
        f[22] = str(r.randint(1, 9999))
    f[24] = "0"
    f[25] = "1"
    f[26] = r.choice(UPPER)
    f[27] = r.choice(STREETS)
    f[28] = r.choice(STREET_TYPES)
    f[33] = r.choice(LOCALITIES)
    f[34] = r.choice(DISTRICTS)
    f[35] = st[0]
    f[36] = f"{r.randint(st[2], st[3]):04d}"
    f[37] = r.choice(UPPER) + r.choice(UPPER)
    if r.random() < 0.3:
        f[38] = r.choice("TF")
    f[39] = r.choice(SERVICE_TYPES)
    if r.random() < 0.4:
        f[40] = "The " + r.choice(SURNAMES) + " " + r.choice(BUSINESSES)
    if r.random() < 0.5:
        f[42] = fixed_number(r, st[4])
    if r.random() < 0.2:
        f[43] = f"{r.randrange(1000):03d}"
    f[44] = r.choice(PROVIDERS)
    f[45] = rand_date(r) + " " + rand_time(r)
    f[46] = rand_date(r) + " " + rand_time(r)
    f[47] = r.choice("TF")
    f[48] = f"{r.randrange(1000):03d}"
    f[49] = st[1]
    f[50] = st[0]
    f[51] = r.choice("TF")
    f[52] = r.choice("TF")
    return f


def common(r, rid, st, mobile):
    f = [""] * 53
    f[0] = f"{rid:08d}"
    f[1] = str(r.randint(10000, 9999999))
    f[2] = rand_date(r)
    f[3] = rand_time(r)
    f[4] = r.choice(MOBILE_NUMBERS) if mobile else fixed_number(r, st[4])
    f[24] = "0"
    f[25] = "1"
    f[48] = f"{r.randrange(1000):03d}"
    f[49] = r.choice(MOBILE_AREAS) if mobile else st[1]
    f[50] = st[0]
    return f


def text(r, width):
    name = r.choice(SURNAMES)
    s = ""
    while len(s) < width:
        s += name + " " + FILLER
    s = s[:width]
    return s[:-1] + "Z" if s[-1] < "A" else s


def full_width(r, rid, st):
    f = []
    for width, kind in TABLE:
        if kind == "id":
            f.append(f"{rid:08d}")
        elif kind == "d":
            f.append("".join(r.choice("0123456789") for _ in range(width)))
        elif kind == "date":
            f.append(rand_date(r))
        elif kind == "time":
            f.append(rand_time(r))
        elif kind == "dt":
            f.append(rand_date(r) + " " + rand_time(r))
        elif kind == "L":
            f.append(r.choice(UPPER))
        elif kind == "LL":
            f.append(r.choice(UPPER) + r.choice(UPPER))
        elif kind == "flag":
            f.append(r.choice("TF"))
        elif kind == "state":
            f.append(st[0])
        else:
            f.append(text(r, width))
    return f


def main():
    count, seed, output = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    r = random.Random(seed)
    id_start = r.randrange(100000000)
    id_step = r.randrange(100000000) | 1
    while id_step % 5 == 0:
        id_step = r.randrange(100000000) | 1
    day = date(2026, 1, 5)
    second = 8 * 3600
    with open(output, "w", encoding="latin-1", newline="\n") as out:
        for seq in range(count):
            second += 1
            if second == 86400:
                second = 0
                day += timedelta(days=1)
            stamp = f"{day.isoformat()} {second // 3600:02d}:{second // 60 % 60:02d}:{second % 60:02d}"
            rid = (id_start + seq * id_step) % 100000000
            n = r.randrange(20)
            if n < 18:
                st = r.choice(STATES)
                if n < 9:
                    fields = full_address(r, rid, st)
                elif n < 13:
                    fields = common(r, rid, st, False)
                    fields[8] = fields[33] = NO_ADDRESS
                else:
                    fields = common(r, rid, st, True)
                    fields[39] = "MOBIL"
                    fields[44] = r.choice(PROVIDERS)
            else:
                fields = full_width(r, rid, r.choice(STATES[:5]))
            out.write(stamp + "\tTCPIN\t127.0.0.1:50003\t" + "|".join(fields) + "\n")


if __name__ == "__main__":
    main()
