#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora, fuzz/corpus/<target>/seed-<sha1>.

The seeds come from the tests: the JSON configurations they use, the value
names they ask for and the frames they send, plus byte programs
(fuzz/device_program.h) that run those frames through complete rounds,
broken replies, caches and clock moves. Files named regress-* are inputs
that once found a fault; they are kept as they are.

    fuzz/make_corpus.py          rewrite every seed-* file
"""

import hashlib
import json
import pathlib
import re
import struct

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = ROOT / "fuzz" / "corpus"
TEST_SOURCES = sorted(
    p for pattern in ("battery/tests/*.cpp", "celldata/tests/*.cpp", "celldata/tests/*.h",
                      "tests/e2e/*.cpp", "plugin/tests/*.cpp")
    for p in ROOT.glob(pattern))

# --- byte programs, in the format of fuzz/device_program.h -----------------
CHUNK, REPLY, TICK, QUERY, IO_CONTROL, CACHE, CLOCK = range(7)
SIX_VOLT, REVERSED, TRIMS, ADJUST, ACTIVE_CELLS, PEER_SUM, BORROW_CURRENT, SENSOR_CURRENT = (
    1 << i for i in range(8))
SPLIT, NOISE, CORRUPT, WRONG_ADDRESS, TRAILING, OTHER_KIND = (1 << i for i in range(6))


def u16(value):
    return [value >> 8 & 0xFF, value & 0xFF]


def cell_reply(readings, shape=0, extra=()):
    """The awaited reply, each of 32 readings given; `extra` are the shape's operands."""
    readings = (list(readings) + [1330] * 32)[:32]
    return [REPLY, shape, 1] + [b for r in readings for b in u16(r)] + list(extra)


def scalar_reply(reading, shape=0, extra=()):
    return [REPLY, shape] + u16(reading) + list(extra)


def chunk(data):
    data = list(data)[:95]
    return [CHUNK, len(data)] + data


def query_cell(cell):
    return [QUERY, 3, cell]


def query_name(name):
    data = list(name.encode())[:255]
    return [QUERY, 6, len(data)] + data


def round_(cells=(1330,) * 30, group=500, current=123, temperature=2600):
    return [TICK] + cell_reply(cells) + scalar_reply(group) + scalar_reply(current) + \
        scalar_reply(temperature)


def queries():
    ops = []
    for cell in (0, 5, 28, 29, 30, 31, 255):
        ops += query_cell(cell)
    for which in (0, 1, 2):
        ops += [QUERY, which]
    return ops + query_name("x_battery_05_value_y")


def record(cells, group=50.0, current=12.3, temperature=26.0, data_id=7):
    cells = (list(cells) + [0.0] * 32)[:32]
    return list(struct.pack("<I32fffBf", data_id, *cells, group, current, 0, temperature)) + [0] * 7


def window_cells():
    return [0, 449, 450, 4500, 7500, 7501, 899, 900, 1330, 1500, 1501, 65535] + \
        [1200 + i for i in range(20)]


def device_programs(test_frames):
    programs = {
        "plain rounds": [0] + round_() + queries() + round_(group=399) + queries(),
        "six volt blocks across the window": [SIX_VOLT] + round_(window_cells()) + queries(),
        "reversed string with trims": [REVERSED | TRIMS | ADJUST] + round_(window_cells()) + queries(),
        "peers and borrowed current": [PEER_SUM | BORROW_CURRENT] + round_() + queries(),
        "sensor current, active cells": [SENSOR_CURRENT | ACTIVE_CELLS] + round_(current=2500) +
        queries(),
        "every setting": [0xFF] + round_(window_cells()) + queries(),
        "split cell reply": [0, TICK] + cell_reply([1330] * 32, SPLIT, [30]) +
        scalar_reply(500, SPLIT, [3]) + scalar_reply(123) + scalar_reply(2600) + queries(),
        "noise and trailing bytes": [0, TICK] + cell_reply([1330] * 32, NOISE | TRAILING,
                                                          [3, 0, 0x13, 0x7F, 3, 0xED, 0x81, 1]) +
        scalar_reply(500, TRAILING, [2, 0xED, 0x81]) + scalar_reply(123) + scalar_reply(2600) +
        queries(),
        "corrupt and wrong address": [0, TICK] + cell_reply([1330] * 32, CORRUPT, [40, 0x10]) +
        [TICK] + cell_reply([1330] * 32, WRONG_ADDRESS) + round_() + queries(),
        "reply of the other kind": [0, TICK] + scalar_reply(500, OTHER_KIND) + [TICK] +
        cell_reply([1330] * 32) + cell_reply([1330] * 32, OTHER_KIND) + round_() + queries(),
        "silent monitor, re-sends and age": [0] + round_() + [TICK] * 5 + [CLOCK, 60] +
        query_cell(3) + [CLOCK, 1] + query_cell(3) + [CLOCK, 127] + [QUERY, 0],
        "clock set back": [0] + round_() + [CLOCK, 0xC4] + queries(),
        "overflowing chunks": [0, TICK] + chunk([0xED, 0x81] + [0x05] * 78) + chunk([0x22]) +
        [TICK, CHUNK, 95] + [0xED] * 95 + round_(),
        "cache images": [0, CACHE, 0] + record([13.3] * 30) + queries() +
        [CACHE, 10] + record([12.0] * 30) + [CACHE, 11] + record([11.0] * 30) +
        [CACHE, 12, CACHE, 13] + [CACHE, 0] + record([1.5] * 32) + queries() + round_() + queries(),
        "history interval": [0, IO_CONTROL, 0, 2, 30, 0, 0, IO_CONTROL, 0, 2, 0, 0, 0,
                             IO_CONTROL, 0, 1, 5, 0, 0, IO_CONTROL, 0, 2, 5, 0, 1,
                             IO_CONTROL, 7, 2, 5, 0, 0] + round_(),
    }
    # Frames the tests send, as chunks in each poll state.
    frames_program = [0]
    for frame in test_frames:
        frames_program += [TICK] + chunk(frame)
    frames_program += round_()
    programs["frames from the tests"] = frames_program
    return [bytes(p) for p in programs.values()]


# --- harvesting the tests ---------------------------------------------------
RAW_STRING = re.compile(r'R"\((.*?)\)"', re.S)
C_STRING = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
HEX_FRAME = re.compile(r'^(?:[0-9A-F]{2} )+[0-9A-F]{2}$')


def c_unescape(text):
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c != "\\":
            out += c.encode()
            i += 1
            continue
        nxt = text[i + 1]
        if nxt == "x":
            m = re.match(r"[0-9a-fA-F]+", text[i + 2:])
            out.append(int(m.group(0), 16) & 0xFF)
            i += 2 + len(m.group(0))
        elif nxt in "01234567":
            m = re.match(r"[0-7]{1,3}", text[i + 1:])
            out.append(int(m.group(0), 8) & 0xFF)
            i += 1 + len(m.group(0))
        else:
            out += {"n": b"\n", "t": b"\t", "\\": b"\\", '"': b'"', "'": b"'"}.get(nxt, nxt.encode())
            i += 2
    return bytes(out)


def test_texts():
    return [p.read_text(encoding="utf-8") for p in TEST_SOURCES]


def configurations(texts):
    configs = []
    for text in texts:
        for literal in RAW_STRING.findall(text):
            try:
                value = json.loads(literal)
            except ValueError:
                continue
            configs.append(literal)
            # Fragments that tests wrap under "appSetting" themselves.
            if isinstance(value, dict) and not {"appSetting", "thresholdSetting"} & value.keys():
                configs.append('{"appSetting":' + literal + "}")
    configs += ['{"appSetting":{"b_mode":3},"thresholdSetting":{"battery_0_value":{"SignalName":"c0",'
                '"NMAlarmID":"1","ID":"2","SignalNumber":"3"},"group_voltage":{"SignalName":"g"}}}']
    return [c.encode() for c in configs]


def value_names(texts):
    names = []
    for text in texts:
        for literal in C_STRING.findall(text):
            name = c_unescape(literal)
            if (b"battery_" in name or name in (b"group_voltage", b"group_current", b"temperature")) \
                    and b"/" not in name and b"\\d" not in name:
                names.append(name)
    return names


def test_frames(texts):
    frames = []
    for text in texts:
        for literal in C_STRING.findall(text):
            if HEX_FRAME.match(literal):
                frames.append(bytes.fromhex(literal))
    return frames


def write(target, seeds):
    directory = CORPUS / target
    directory.mkdir(parents=True, exist_ok=True)
    for old in directory.glob("seed-*"):
        old.unlink()
    unique = {hashlib.sha1(s).hexdigest(): s for s in seeds}
    for digest, seed in unique.items():
        (directory / f"seed-{digest}").write_bytes(seed)
    print(f"{target}: {len(unique)} seeds")


def main():
    texts = test_texts()
    write("device_program", device_programs(test_frames(texts)))
    write("init_setting", configurations(texts))
    write("value_name", value_names(texts))


if __name__ == "__main__":
    main()
