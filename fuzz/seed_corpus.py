#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz program into fuzz/corpus/<program>/.

The seeds are small inputs of the shapes the unit tests use; campaigns (scripts/fuzz.sh
--merge) add what they find beside them. Run again after changing this file; existing
files of the same name are overwritten, others are kept.
"""
import base64
import hashlib
import json
import os
import struct
import zlib

ROOT = os.path.dirname(os.path.abspath(__file__))
TESTDATA = os.path.join(ROOT, "..", "testdata", "json-parsing")


def put(target, data):
    if isinstance(data, str):
        data = data.encode("utf-8", "surrogatepass")
    folder = os.path.join(ROOT, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    name = "seed-" + hashlib.sha1(data).hexdigest()[:16]
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def png(width, height, depth, colour, rows=None, phys=None, interlace=0, palette=None):
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour]
    row_bytes = (width * channels * depth + 7) // 8
    if rows is None:
        rows = [bytes((x * 37 + y * 11) & 0xFF for x in range(row_bytes)) for y in range(height)]
    raw = b"".join(b"\x00" + r for r in rows)
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, interlace))
    if phys:
        out += chunk(b"pHYs", struct.pack(">IIB", *phys))
    if colour == 3:
        out += chunk(b"PLTE", palette or bytes(range(48)))
    out += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    return out


PNGS = [
    png(2, 2, 8, 2),
    png(3, 1, 8, 6, phys=(3780, 3780, 1)),
    png(4, 3, 8, 0),
    png(5, 2, 1, 0),
    png(2, 2, 16, 2),
    png(2, 2, 8, 4, phys=(5669, 3780, 1)),
    png(4, 4, 4, 3, palette=bytes(range(48))),
    png(3, 3, 8, 2, phys=(1000, 1000, 0)),
    png(1, 1, 8, 6),
    png(8, 1, 2, 0),
]
PNGS[-1] = PNGS[-1][:-12] + b"junk"  # cut IEND
PNGS.append(png(2, 2, 8, 2)[:40])    # header only


def seed_json():
    names = sorted(n for n in os.listdir(TESTDATA) if n.endswith(".json"))
    small = [n for n in names if os.path.getsize(os.path.join(TESTDATA, n)) <= 64]
    for n in small[::4]:
        with open(os.path.join(TESTDATA, n), "rb") as f:
            put("fuzz_json", f.read())
    for text in ['{"id":1,"method":"get_version"}', '[1.0,-0.0,1e-400,18446744073709551616,-9223372036854775809]',
                 '"\\ud83d\\ude00\\u00e9\\/\\b"', "\xef\xbb\xbf{}", "[" * 128 + "]" * 128,
                 '{"a":1,"a":2,"b":[{},[]]}', ' \t\n\r0.5e+3 ']:
        put("fuzz_json", text)


def frame(payload):
    payload = payload.encode() if isinstance(payload, str) else payload
    return struct.pack("<I", len(payload)) + payload


def seed_frame():
    reqs = ['{"id":1,"method":"get_version"}', '{"id":"a","method":"nope","params":{}}', '[]', '{"method":1}',
            '{"id":2,"method":"request_permission","params":{"kind":"screenRecording"}}',
            '{"id":3,"method":"get_image_info","params":{"content":"%s"}}' % base64.b64encode(PNGS[0]).decode()]
    put("fuzz_frame", b"\x00" + b"".join(frame(r) for r in reqs))
    put("fuzz_frame", b"\x03" + frame(reqs[0]) + frame("not json") + frame(reqs[1]))
    put("fuzz_frame", b"\x01" + frame(reqs[4]) + b"\x10\x00")
    put("fuzz_frame", b"\x05" + frame("") + frame(reqs[0]))
    put("fuzz_frame", b"\x07" + frame(reqs[2])[:-1])
    put("fuzz_frame", b"\x10" + frame(reqs[5]) + frame(reqs[3]))


METHODS = ["get_version", "get_image_info", "search_image", "get_display_list", "get_desktop_dpi",
           "get_screen_backing_scale_factor", "capture_desktop", "search_desktop", "wait_for_image", "search_relative",
           "get_permission_status", "request_permission", "open_permission_pane", "focus_browser",
           "get_active_browser_window_rect", "get_active_browser_outer_rect", "find_color_regions", "find_rectangle",
           "get_max_file_range"]


def raw_image(w, h, seed=0):
    return base64.b64encode(bytes(((i * 7 + seed) * 13) & 0xFF for i in range(w * h * 3))).decode()


def seed_dispatch():
    b64png = base64.b64encode(PNGS[0]).decode()
    image = {"data": raw_image(12, 10), "width": 12, "height": 10}
    pattern = {"data": raw_image(3, 3, 5), "width": 3, "height": 3, "dpiX": 144}
    params = {
        "get_image_info": [{"content": b64png}, {"content": "AAAA"}, {}],
        "search_image": [{"image": image, "pattern": pattern},
                         {"image": image, "pattern": {"data": b64png},
                          "options": {"minSimilarity": 0.5, "allowSizeVariation": True, "enableHighDpi": True}},
                         {"image": image, "pattern": pattern,
                          "options": {"limitSearchArea": True, "searchArea": {"x": 2, "y": 1, "width": 8, "height": 8}}},
                         {"image": image, "pattern": pattern, "options": {"enableGreenPinkBoxes": True}}],
        "capture_desktop": [{"path": "/nonexistent/x.png"}, {}],
        "search_desktop": [{"pattern": pattern, "options": {"saveCaptureOnDisk": True}}],
        "wait_for_image": [{"pattern": pattern, "timeoutMs": 10, "intervalMs": 1}],
        "search_relative": [{"pattern": pattern, "offset": {"x": 1, "y": 2}}],
        "request_permission": [{"kind": "accessibility"}, {"kind": 1}],
        "open_permission_pane": [{"kind": "screenRecording"}],
        "focus_browser": [{}],
        "find_color_regions": [{"color": "#ff0000"}, {"color": "12345g"}, {"color": "abcdef", "tolerance": 5}],
        "find_rectangle": [{"color": "00ff00"}],
    }
    for i, name in enumerate(METHODS):
        for j, p in enumerate(params.get(name, [{}])):
            put("fuzz_dispatch", bytes([i, 0x80 | j]) + json.dumps(p, separators=(",", ":")).encode())
    put("fuzz_dispatch", b"\xff" + b'{"id":7,"method":"get_version"}')
    put("fuzz_dispatch", b"\xff" + b'{"id":[1],"method":"send_text","params":{"text":"a${KEY_ENTER}"}}')
    put("fuzz_dispatch", b"\xff" + b'["method"]')


def seed_base64():
    for data in [b"", b"f", b"fo", b"foo", b"foob", b"fooba", b"foobar", bytes(range(256)), PNGS[1][:40]]:
        put("fuzz_base64", base64.b64encode(data))
    for text in ["Zg", "Zg=", "Zh==", "Zm9v YmFy", "Zm9v=mFy", "====", "A", "AB=C", "Zm9vYmFy" * 9 + "Z-==",
                 "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ej==",
                 "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5eg=\x00"]:
        put("fuzz_base64", text)


def seed_key_sequence():
    for text in ["", "abc", "a${KEY_ENTER}b", "${KEY_CTRL+KEY_A}", "${KEY_CTRL+KEY_SHIFT+KEY_T}", "${KEY_F5}",
                 "${KEY_F15}${KEY_F16}", "${KEY_0}${KEY_9}", "${ctrl+c}", "${key_ctrl + key_c}", "${}", "${",
                 "${KEY_A+}", "${+KEY_A}", "${KEY_A++KEY_CTRL}", "${KEY_META+KEY_A+key_win}", "${KEY_ALT+KEY_OPTION}",
                 "${KEY_OPTION+KEY_CMD+KEY_DEL}", "$${KEY_TAB}$", "x$", "${a${b}", "${ key_\u00e9 }",
                 "${\u00a0\u3000}", "${\u200bKEY_A}", "line\r\n\tx", "${KEY_PAGE_UP}${KEY_PAGEDOWN}${KEY_SPACE}",
                 "${KEY_COMMA}${KEY_PERIOD}${KEY_SEMICOLON}${KEY_MINUS}", "hello${KEY_ENTER}${KEY_FOO}"]:
        put("fuzz_key_sequence", text)
    put("fuzz_key_sequence", b"\xff${KEY_A}\xc3")
    put("fuzz_key_sequence", b"${\xe2\x80}")


def seed_png():
    for p in PNGS:
        put("fuzz_png", p)
    put("fuzz_png", png(3, 3, 8, 2, interlace=1))
    put("fuzz_png", b"\x89PNG\r\n\x1a\n")


def seed_image_params():
    for p in PNGS[:6]:
        put("fuzz_image_params", b"\x01\x00\x00\x00" + p)
        put("fuzz_image_params", b"\x03\x00\x00\x90" + p)
    put("fuzz_image_params", b"\x01\x02\x02\x00" + bytes(range(12)))
    put("fuzz_image_params", b"\x01\x02\x02\x40" + bytes(range(11)))
    put("fuzz_image_params", b"\x01\xff\x01\x00" + bytes(range(9)))
    put("fuzz_image_params", b"\x00" + json.dumps({"data": base64.b64encode(PNGS[1]).decode(), "dpiX": 0}).encode())
    put("fuzz_image_params", b"\x00" + b'{"data":"AAAA","width":1,"height":1}')
    put("fuzz_image_params", b"\x00" + b'{"data":"AAA=","width":1.5,"height":1}')
    put("fuzz_image_params", b"\x00" + b'{"data":"@@@@"}')
    put("fuzz_image_params", b"\x00" + b'{"content":"iVBORw0KGgo="}')


def seed_options():
    for params in [
        {"options": {"minSimilarity": 0.9, "allowSizeVariation": True}},
        {"options": {"limitSearchArea": True, "searchArea": {"x": 10, "y": 10, "width": 50, "height": 50}}},
        {"options": {"limitSearchArea": True, "searchArea": {"x": -5, "y": -5, "width": 10, "height": 10}}},
        {"options": {"limitSearchArea": True, "searchArea": {"x": 1e300, "y": -1e300, "width": 1e19, "height": -1}}},
        {"options": {"limitSearchArea": True}},
        {"options": {"limitSearchArea": True, "searchArea": [1, 2]}},
        {"options": {"requireGreenPinkBoxes": True}},
        {"options": {"minSimilarity": "x", "scale": 2}},
        {"color": "#a0B1c2"}, {"color": "##a0b1c2"}, {"color": "a0b1c"}, {"color": 123456},
        {"extensions": [".TXT", "png", "..x", 5, "\u0130", "\u03a3\u03a3"]},
        {"rangeStart": 100}, {"rangeStart": -1}, {"rangeStart": 1.5},
    ]:
        put("fuzz_options", b"\x40\x30" + json.dumps(params, separators=(",", ":")).encode())
    put("fuzz_options", b"\x00\x00" + b'{"options":{"limitSearchArea":true,"searchArea":{"width":1,"height":1}}}')


def utf16(text):
    return text.encode("utf-16-le", "surrogatepass")


def seed_paths():
    for p in ["C:\\", "C:", "C:\\a\\b\\", "\\\\server\\share\\dir", "\\\\?\\C:\\x", "\\??\\UNC\\s\\h\\f",
              "\\\\.\\COM1", "\\\\?\\Volume{1}\\a", "/a//b/", "rel\\name", "\\", "\\\\", "C:\\" + "d\\" * 130,
              "\\\\?\\UNC\\server", "a\ud800b\udc00"]:
        put("fuzz_paths", utf16(p))
    for text in [b"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", b"\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80", b"\xce\xa3A\xce\xa3",
                 "\u0130STANBUL.TXT".encode()]:
        put("fuzz_paths", text)


def seed_launch():
    for name, rest in [("notepad", ""), ("tool.exe", "-a -b"), ("C:\\bin\\run", "x"), ("script.bat", "a b"),
                       ("bad\"name.cmd", ""), ("dir\\", ""), ("", "C:\\one;\"C:\\two;three\";;C:\\x"),
                       ("prog", "C:\\a;C:\\bb;C:\\ccc"), ("PROG.EXE", "\"unterminated;x")]:
        put("fuzz_launch", utf16(name) + b"\x00\x00" + utf16(rest))
    put("fuzz_launch", b"\x01" + "\u00e9".encode() + b"\xff\xfe\xc3")


def seed_input_methods():
    for text in ["abc", "a${KEY_ENTER}b", "${KEY_CTRL+KEY_A}", "\u00e9\u20ac\U0001F600", "${KEY_F5}x${KEY_BAD}",
                 "${KEY_SHIFT+KEY_1}", "line\r\n\tx", ""]:
        put("fuzz_input_methods", b"\x00\x00\x00" + json.dumps({"text": text}).encode())
    put("fuzz_input_methods", b"\x00\x07\x03" + b'{"text":"hello${KEY_TAB}world"}')
    for params in [{"type": 0, "button": 0, "x": 10, "y": 20}, {"type": 3, "button": 1, "x": -5, "y": 1e12},
                   {"type": 7, "button": 2, "x": 1919, "y": 1079}, {"type": 8, "button": 0, "x": 0, "y": 0},
                   {"type": 1.7, "button": -1, "x": "1", "y": 0}, {"type": 5, "button": 0, "x": 2.5}]:
        put("fuzz_input_methods", b"\x01\x00\x02" + json.dumps(params).encode())
    for params in [{"deltaX": 0, "deltaY": 120}, {"deltaX": -360, "deltaY": 0}, {"deltaX": 1e30, "deltaY": -1e30},
                   {"deltaY": 3}]:
        put("fuzz_input_methods", b"\x02\x00\x00" + json.dumps(params).encode())
    put("fuzz_input_methods", b"\x02\x0e\x13" + b'{"deltaX":5,"deltaY":7}')


for fn in [seed_input_methods, seed_json, seed_frame, seed_dispatch, seed_base64, seed_key_sequence, seed_png, seed_image_params,
           seed_options, seed_paths, seed_launch]:
    fn()
