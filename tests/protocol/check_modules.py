#!/usr/bin/env python3
"""check_modules.py ASN1MODEL.py FILE.asn...

Runs the front end's command line over the protocol modules and holds its
counts, and a few wire-relevant shapes of the model, to the figures worked
out from the message tables.  A slip in the transcription (a lost field, a
wrong presence, an extension marker in the wrong place) moves one of them.
"""

import json
import re
import subprocess
import sys

EXPECTED_MODULES = {          # types, SEQUENCE, CHOICE, ENUMERATED
    "LGCP": (106, 63, 24, 19),
    "TERM": (154, 84, 39, 31),
    "LEMZGW": (145, 92, 20, 33),
    "ACP": (42, 21, 7, 14),
    "HSP": (21, 11, 4, 6),
    "MON": (19, 11, 7, 1),
    "MEDIA": (11, 3, 7, 1),
    "BASE": (3, 1, 0, 2),
    "CCP": (2, 1, 1, 0),
}
EXPECTED_TOTAL = (503, 287, 109, 107, 2242)
EXPECTED_LISTS = (33, 58)
EXPECTED_RANGES = 22
EXPECTED_REACH = {"LGCP.Message": 328, "MON.Message": 19}
EXPECTED_RANGE_SET = {
    (-128, 127), (0, 1), (0, 3), (0, 7), (0, 15), (0, 31), (0, 63),
    (0, 127), (0, 255), (0, 511), (0, 1023), (0, 2047), (0, 4095),
    (0, 65535), (0, 4294967295), (1, 3), (1, 21), (1, 50), (1, 255),
    (2, 50), (20, 1000), (112000, 399975)}

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


def run(tool, args):
    p = subprocess.run([sys.executable, tool] + args, capture_output=True,
                       text=True)
    if p.returncode != 0:
        sys.stderr.write(p.stdout + p.stderr)
        sys.exit(f"FAIL: {' '.join(args[:1])} exited {p.returncode}")
    return p.stdout


def check_summary(out):
    mods = {}
    for m in re.finditer(r"^module (\w+): (\d+) types \((\d+) SEQUENCE, "
                         r"(\d+) CHOICE, (\d+) ENUMERATED\)", out, re.M):
        mods[m.group(1)] = tuple(int(x) for x in m.groups()[1:])
    check(mods == EXPECTED_MODULES, f"per-module counts {mods}")
    m = re.search(r"^total: (\d+) types \((\d+) SEQUENCE, (\d+) CHOICE, "
                  r"(\d+) ENUMERATED\), (\d+) members", out, re.M)
    check(m and tuple(int(x) for x in m.groups()) == EXPECTED_TOTAL,
          f"totals {m and m.groups()}")
    m = re.search(r"^lists: (\d+) distinct, (\d+) uses", out, re.M)
    check(m and tuple(int(x) for x in m.groups()) == EXPECTED_LISTS,
          f"lists {m and m.groups()}")
    m = re.search(r"^integer ranges: (\d+) distinct", out, re.M)
    check(m and int(m.group(1)) == EXPECTED_RANGES,
          f"ranges {m and m.group(1)}")
    for root, n in EXPECTED_REACH.items():
        m = re.search(rf"^reachable from {re.escape(root)}: (\d+)", out, re.M)
        check(m and int(m.group(1)) == n,
              f"reachable from {root}: {m and m.group(1)}")


def check_shapes(model):
    types = {}
    for mod in model["modules"]:
        for t in mod["types"]:
            types[f"{mod['name']}.{t['name']}"] = t

    def members(q):
        return types[q]["members"]

    def member(q, name):
        return next(m for m in members(q) if m["name"] == name)

    # Extension additions: where the root ends, and the presence indexes
    # the runtime gives them (after the optional root fields).
    for q, first, total in (("LGCP.TonecCode", 6, 7),
                            ("ACP.AcpCommand", 6, 17),
                            ("ACP.AcpResponse", 2, 9),
                            ("TERM.TermParams", 6, 19),
                            ("TERM.ISDN_NumberType", 2, 3)):
        t = types[q]
        check(t["extensible"] and t["first_addition"] == first and
              len(t["members"]) == total, f"{q} additions")
    tp = types["TERM.TermParams"]
    check(tp["optional_root_count"] == 6, "TermParams optional root fields")
    check(member("TERM.TermParams", "traceLevel")["presence_bit"] == 6 and
          member("TERM.TermParams", "radio-command")["presence_bit"] == 18,
          "TermParams addition presence indexes")
    check(member("TERM.ISDN_NumberType", "screeningInd")["presence"] ==
          "addition", "ISDN_NumberType.screeningInd is an addition")
    rtp = types["TERM.RtpParams"]
    check(rtp["extensible"] and rtp["optional_root_count"] == 12 and
          len(rtp["members"]) == 14, "RtpParams shape")
    check(not types["TERM.HostAddress"]["extensible"] and
          not types["TERM.RtpJitter"]["extensible"] and
          types["ACP.TrunkStatus"]["extensible"] and
          types["ACP.VersionInfo"]["extensible"] and
          not types["ACP.SS7LinkInfo"]["extensible"] and
          not types["ACP.IsdnLinkInfo"]["extensible"],
          "extension markers where the wire has an extension bit")
    check(all(t["extensible"] and t["first_addition"] is None
              for q, t in types.items() if q.startswith("LEMZGW.")),
          "every LEMZGW type extensible, no additions")

    # The one SET OF, the one sized string, the one object identifier.
    kinds = [(q, m["name"], m["type"]) for q, t in types.items()
             if t["kind"] != "ENUMERATED" for m in t["members"]]
    set_of = [(q, n) for q, n, ty in kinds if ty["kind"] == "SET OF"]
    check(set_of == [("LGCP.IoctlParams", "activateTonec")], f"SET OF {set_of}")
    sized = [(q, n, ty.get("lo"), ty.get("hi")) for q, n, ty in kinds
             if ty["kind"] == "IA5String" and "lo" in ty]
    check(sized == [("TERM.RtpParams", "dname", 1, 64)], f"sized {sized}")
    oid = [(q, n) for q, n, ty in kinds if ty["kind"] == "OBJECT IDENTIFIER"]
    check(oid == [("CCP.Message", "protocolIdentifier")], f"OID {oid}")
    ranges = {(ty["lo"], ty["hi"]) for q, n, ty in kinds
              if ty["kind"] == "INTEGER" and "lo" in ty}
    check(ranges == EXPECTED_RANGE_SET, f"ranges {sorted(ranges)}")

    # Enumeration values as the tables give them.
    def values(q):
        return [(m["name"], m["value"]) for m in members(q)]

    check(("not-use", -1) in values("TERM.RadioStandby"), "not-use -1")
    check(values("HSP.StandbyState") ==
          [("initial", 0), ("learn", 1), ("listen", 2), ("speak", 4),
           ("standby", 8), ("active", 16)], "StandbyState")
    check(types["LEMZGW.ProtoLemzMsgID"]["max_value"] == 13056 and
          ("gw-get-id", 4097) in values("LEMZGW.ProtoLemzMsgID"),
          "ProtoLemzMsgID values")
    check(types["TERM.ED137CauseCode"]["max_value"] == 2099, "ED137CauseCode")
    check(len(members("TERM.TermErrorCode")) == 39, "TermErrorCode size")
    check(len(members("TERM.IpQoSDSCP")) == 24, "IpQoSDSCP size")
    check(values("LGCP.ErrorCause")[-1] == ("destroyInProgress", 12) and
          len(members("LGCP.ErrorCause")) == 13, "ErrorCause")
    for q in ("LEMZGW.ProtoLemzCountersNSizes",
              "LEMZGW.ProtoLemzAnalogGainIDV1",
              "LEMZGW.ProtoLemzAnalogGainIDV2"):
        vals = [v for _, v in values(q)]
        check(len(set(vals)) < len(vals), f"{q} keeps its repeated values")

    # Names kept verbatim, underscores and misspellings included.
    check(member("LGCP.CreateParams", "trunk_bri")["type"]["name"] ==
          "TrunkParams", "trunk_bri")
    check(any(m["name"] == "dtmf-detector_mark-max-time"
              for t in types.values() for m in t["members"]),
          "dtmf-detector_mark-max-time")
    for q in ("TERM.SS7_NumberType", "TERM.CAS_NumberType",
              "LGCP.MixerResources_subtype", "LGCP.PlayerParams_network",
              "TERM.DTMFParams_level"):
        check(q in types, f"type {q}")

    # Lists whose names mirror each other (a dropped or swapped row shows).
    def names(q):
        return [m["name"] for m in members(q)]

    for a, b in (("LEMZGW.ProtoLemzMsgID", "LEMZGW.ProtoLemzPacketPayload"),
                 ("TERM.TermCommand", "TERM.TermResponse"),
                 ("MON.Command", "MON.Response")):
        check(names(a) == names(b), f"{a} mirrors {b}")
    check(["ed137-" + n for n in names("TERM.ED137CauseCode")] ==
          [n for n in names("TERM.TermErrorCode") if n.startswith("ed137-")],
          "ED137CauseCode mirrors the ed137 items of TermErrorCode")
    check(len(members("LGCP.Command")) == 15 and
          len(members("LGCP.Signal")) == 23 and
          len(members("LGCP.IoctlParams")) == 38 and
          len(members("LGCP.CreateParams")) == 19, "LGCP alternative counts")


def main():
    tool, files = sys.argv[1], sys.argv[2:]
    roots = [a for r in EXPECTED_REACH for a in ("--root", r)]
    out = run(tool, ["--check"] + files + roots)
    sys.stdout.write(out)
    check_summary(out)
    check_shapes(json.loads(run(tool, ["--json"] + files)))
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
