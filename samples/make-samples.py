#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes our made-up IPND data files into this folder.

Every subscriber here is invented. Telephone numbers come from the ranges
set aside in Australia for fiction (02/03/07/08 5550 xxxx, 0491 570 xxx).

  ipnd3.x01      RAWLOG form: date, time and channel tag, then the body.
  refusals.x01   RAWLOG lines that the reader refuses, and one good line.
  multipkt.x01   MULTIPKT form: single-part, three-part, duplicate,
                 out-of-sequence and mixed-terminal sequences.

Run it again after changing it; the output is the same on every run.
"""

import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
CRLF = "\r\n"
IPND_FIELDS = 52
MOLI_FIELDS = 46

SURNAMES = ["NGUYEN", "PAPADOPOULOS", "O'SULLIVAN", "KOWALSKI", "TRAN", "MCKENZIE",
            "SINGH", "ROBERTSON", "CHEN", "MURPHY", "WHITEHOUSE", "FITZGERALD",
            "ANDERSSON", "ROSSI", "HALL", "BRENNAN"]
GIVEN = ["SARAH J", "MICHAEL", "AROHA", "DIMITRI", "LINH", "JAMES R", "PRIYA",
         "CALLUM", "MEI", "BRIDGET", "OLIVER", "TAMSIN", "KARL", "GIULIA",
         "NOAH", "MAEVE"]
TITLES = ["MR", "MRS", "MS", "DR", "MISS", ""]
STREETS = [("WATTLE", "ST"), ("BANKSIA", "AVE"), ("KURRAJONG", "RD"),
           ("BOTTLEBRUSH", "CRES"), ("IRONBARK", "DR"), ("JACARANDA", "PDE"),
           ("LILLY PILLY", "CT"), ("MALLEE", "WAY"), ("RIVER GUM", "CL"),
           ("SALTBUSH", "LANE")]
# (locality, district, state, postcode, SMSA, ESO, latitude, longitude)
PLACES = [
    ("PARRAMATTA", "Western Sydney", "NSW", "2150", "FIXED NETWORK NSW",
     "NSW-AMB,SYDNEY WEST", (33, 48, 54.120, "S"), (151, 0, 11.470, "E")),
    ("BALLARAT CENTRAL", "Central Highlands", "VIC", "3350", "FIXED NETWORK VIC",
     "VIC-AMB,BALLARAT", (37, 33, 45.310, "S"), (143, 51, 2.880, "E")),
    ("TOOWOOMBA CITY", "Darling Downs", "QLD", "4350", "FIXED NETWORK QLD",
     "QLD-POL,TOOWOOMBA", (27, 33, 37.600, "S"), (151, 57, 6.250, "E")),
    ("FREMANTLE", "South Metropolitan", "WA", "6160", "FIXED NETWORK WA",
     "WA-FIRE,FREMANTLE", (32, 3, 22.940, "S"), (115, 44, 51.030, "E")),
    ("GLENELG", "Holdfast Bay", "SA", "5045", "FIXED NETWORK SA",
     "SA-POL,ADELAIDE SOUTH", (34, 58, 50.410, "S"), (138, 30, 58.700, "E")),
    ("SANDY BAY", "Hobart South", "TAS", "7005", "FIXED NETWORK TAS",
     "TAS-AMB,HOBART", (42, 54, 9.880, "S"), (147, 19, 48.150, "E")),
    ("BELCONNEN", "Belconnen District", "ACT", "2617", "FIXED NETWORK ACT",
     "ACT-ESA,CANBERRA NORTH", (35, 14, 17.020, "S"), (149, 3, 58.640, "E")),
    ("PALMERSTON CITY", "Top End", "NT", "0830", "FIXED NETWORK NT",
     "NT-POL,DARWIN", (12, 28, 49.330, "S"), (130, 59, 2.410, "E")),
    ("WOLLONGONG", "Illawarra", "NSW", "2500", "FIXED NETWORK NSW",
     "NSW-POL,WOLLONGONG", (34, 25, 28.760, "S"), (150, 53, 36.090, "E")),
    ("BENDIGO", "Loddon", "VIC", "3550", "FIXED NETWORK VIC",
     "VIC-POL,BENDIGO", (36, 45, 27.150, "S"), (144, 16, 46.300, "E")),
    ("CAIRNS CITY", "Far North", "QLD", "4870", "FIXED NETWORK QLD",
     "QLD-AMB,CAIRNS", (16, 55, 10.470, "S"), (145, 46, 30.820, "E")),
    ("BUNBURY", "South West", "WA", "6230", "FIXED NETWORK WA",
     "WA-POL,BUNBURY", (33, 19, 37.030, "S"), (115, 38, 31.560, "E")),
]
AREA_CODE = {"NSW": "02", "ACT": "02", "VIC": "03", "TAS": "03", "QLD": "07",
             "WA": "08", "SA": "08", "NT": "08"}
MOLI_ABC = {"NSW": "991", "ACT": "991", "VIC": "993", "TAS": "993", "QLD": "995",
            "WA": "997", "SA": "997", "NT": "997"}
PROVIDERS = ["AUCARR", "SOUTHX", "BLUEGM"]


def coord(c, seconds_shift=0.0):
    deg, minutes, sec, hemi = c
    sec = round(sec + seconds_shift, 3) % 60
    width = 3 if hemi in "EW" else 2
    return "%0*d %02d %06.3f%s" % (width, deg, minutes, sec, hemi)


def moli_record(rng, shape, place):
    lat, lon = place[6], place[7]
    f = [""] * MOLI_FIELDS
    f[0], f[1], f[45] = "WGS84", shape, place[5]
    if shape in "OCA":
        f[2], f[3] = coord(lat), coord(lon)
    if shape == "C":
        f[5] = str(rng.choice([150, 500, 1200, 3000]))
    if shape == "A":
        f[4], f[5] = "400", "1800"
        f[6], f[7] = str(rng.randrange(0, 180)), str(rng.randrange(180, 360))
    if shape == "P":
        points = [(0.0, 0.0), (9.5, 3.2), (7.1, 12.8), (-2.4, 8.6), (0.0, 0.0)]
        for i, (dy, dx) in enumerate(points):
            f[8 + 2 * i], f[9 + 2 * i] = coord(lat, dy), coord(lon, dx)
    if shape == "E":
        f[40], f[41] = coord(lat), coord(lon)
        f[42], f[43], f[44] = "35", "650", "280"
    if shape == "N":
        f[0] = ""
    assert len(f) == MOLI_FIELDS
    return "|" + "|".join(f)


def ipnd_record(rng, terminal, serial, place):
    surname, given = rng.choice(SURNAMES), rng.choice(GIVEN)
    street, street_type = rng.choice(STREETS)
    mobile = rng.random() < 0.3
    if mobile:
        service = "0491570%03d" % rng.randrange(1000)
    else:
        service = AREA_CODE[place[2]] + "5550%04d" % rng.randrange(10000)
    house = str(rng.randrange(1, 400))
    f = [""] * IPND_FIELDS
    f[0] = "%02d%05d" % (terminal, serial)
    f[1] = "2024-%02d-%02d" % (rng.randrange(1, 13), rng.randrange(1, 29))
    f[2] = "%02d:%02d:%02d" % (rng.randrange(24), rng.randrange(60), rng.randrange(60))
    f[3] = service
    f[4] = "A"
    f[5] = surname
    f[6] = given
    f[7] = "%s %s" % (given, surname)
    f[8] = rng.choice(TITLES)
    if rng.random() < 0.25:
        f[9], f[10] = "U", str(rng.randrange(1, 40))  # unit number
    f[19] = house
    f[23], f[24] = "0", "1"
    f[26], f[27] = street, street_type
    f[32], f[33], f[34], f[35] = place[0], place[1], place[2], place[3]
    f[36] = "LE"
    f[38] = "MOB" if mobile else "PSTN"
    f[41] = service
    f[43] = rng.choice(PROVIDERS)
    f[44] = "2023-%02d-%02d 10:%02d:00" % (rng.randrange(1, 13), rng.randrange(1, 29),
                                           rng.randrange(60))
    f[45] = "2019-%02d-01 09:00:00" % rng.randrange(1, 13)
    f[46] = "F"
    f[47] = MOLI_ABC[place[2]]
    f[48] = "MOBILE NETWORK" if mobile else place[4]
    f[49] = place[2]
    f[50], f[51] = "F", "F"
    assert len(f) == IPND_FIELDS
    assert not any("|" in x or "\t" in x for x in f)
    return "|" + "|".join(f)


def body(rng, terminal, serial, shape=None):
    place = rng.choice(PLACES)
    rec = ipnd_record(rng, terminal, serial, place)
    if shape is None:
        return "3" + rec
    return "4" + rec + moli_record(rng, shape, place)


def rawlog_line(rng, text, tag):
    stamp = "2024-05-%02d\t%02d:%02d:%02d.%03d" % (
        rng.randrange(1, 29), rng.randrange(24), rng.randrange(60), rng.randrange(60),
        rng.randrange(1000))
    return "%s\t%s\t%s" % (stamp, tag, text)


def write(name, lines):
    with open(os.path.join(HERE, name), "w", newline="", encoding="ascii") as out:
        out.write("".join(line + CRLF for line in lines))


def make_ipnd3(rng):
    lines = []
    shapes = ["O", "C", "A", "P", "E", "N"]
    for i in range(36):
        terminal = [12, 15, 7, 99, 41][i % 5]
        shape = shapes[(i // 3) % len(shapes)] if i % 3 == 2 else None
        lines.append(rawlog_line(rng, body(rng, terminal, 100 + i, shape), "IPND-RX%d" % (i % 2)))
    return lines


def make_refusals(rng):
    good = body(rng, 12, 901)
    short = "3|120090"  # 8 characters: read, but too short to send
    return [
        "no tab anywhere on this line " + good,
        "2024-05-01\t10:00:00\t" + good.replace("|", "/"),  # two tabs only
        "X" * 100 + "\t10:00:00\tIPND-RX0\t" + good,  # first tab at character 101
        "2024-05-01\t" + "Y" * 100 + "\tIPND-RX0\t" + good,  # second tab out of reach
        "2024-05-01\t10:00:00\t" + "Z" * 100 + "\t" + good,  # third tab out of reach
        "2024-05-01\t10:00:01\tIPND-RX0\t3|12AB903|non numeric header",
        "2024-05-01\t10:00:02\tIPND-RX0\t" + short,
        "2024-05-01\t10:00:03\tIPND-RX0\t" + good,
    ]


def split3(text):
    third = len(text) // 3
    return [text[:third], text[third:2 * third], text[2 * third:]]


def make_multipkt(rng):
    single = body(rng, 12, 501)
    a, b, c = split3(body(rng, 15, 502, "P"))
    d, e, f = split3(body(rng, 17, 503))
    g, h, i = split3(body(rng, 18, 504, "E"))
    j, k = split3(body(rng, 20, 505))[0], split3(body(rng, 21, 506))[1]
    m, n, o = split3(body(rng, 99, 507))
    return [
        "0120101" + single,                                           # single part
        "0150301" + a, "0150302" + b, "0150303" + c,                  # three parts
        "0170301" + d, "0170302" + e, "0170302" + e, "0170303" + f,   # duplicate, then out of sequence
        "0170301" + d, "0170302" + e, "0170303" + f,                  # new start completes
        "0180302" + h,                                                # out of sequence
        "0180303" + i,                                                # still out of sequence
        "# not a part header: clears the sequence",
        "0180301" + g, "0180302" + h, "0180303" + i,                  # completes
        "0200201" + j, "0210202" + k,                                 # different terminals
        "0000301" + m, "9990302" + n, "0000303" + o,                  # 000 and 999 are one terminal
    ]


def main():
    rng = random.Random(20240518)
    write("ipnd3.x01", make_ipnd3(rng))
    write("refusals.x01", make_refusals(rng))
    write("multipkt.x01", make_multipkt(rng))


if __name__ == "__main__":
    main()
