"""What the tests behind the HID stack send and expect, written from the wire layout by hand: the
sample profile and the requests' bytes."""
import struct

import harness

PROFILE = """[HEADER]
Title=Racing
IniFileVersion=2.0
[SETTING]
Interval=1234
DeviceType=2
UseHatSwitch=1
HatSwitchMode=2
UseSlider1=3
SliderBaseCenter1=0
UseSlider2=4
SliderBaseCenter2=1
[DEADZONE]
System=5
L2=6
R2=7
[RAPID FIRE]
EnableRapidFire=1
FunctionButtonMask=65537
SpeedSelector=2
Speed1=11
Speed2=12
Speed3=13
Speed4=270
[AXIS MAP]
X=1
Y=2
Z=3
RotateX=4
RotateY=5
RotateZ=6
[BUTTON MAP]
{buttons}
[AXIS MAP2]
UseAxisMap2=1
DigitalY=100
DigitalX=-2
AnalogLY=300
AnalogLX=4
AnalogRY=5
AnalogRX=6
[AXIS INVERT]
X=1
Y=0
Z=1
RotateX=0
RotateY=0
RotateZ=1
Slider1=0
Slider2=1
[CONVERT OUT]
X=21
Y=22
Z=23
RotateX=24
RotateY=25
RotateZ=26
[CONVERT IN]
DigitalY=31
DigitalX=32
AnalogLY=33
AnalogLX=34
AnalogRY=35
AnalogRX=36
TC=37
SC=38
SixaxisX=39
SixaxisY=40
SixaxisZ=41
""".format(buttons="\n".join(f"{i:02d}={18 - i}" for i in range(19)))


def request(command, mask=0, body=None):
    """A request's 109 bytes built from the wire layout by hand: header, command, mask, body bytes
    {offset: bytes}; sealed with the checksum only for SetDriverSettings."""
    r = bytearray(109)
    r[0] = 2
    r[1:5] = b"PWRQ"
    r[5:9] = bytes([0, 0, 0, 1])
    r[9:13] = struct.pack("<I", command)
    r[17:21] = struct.pack("<I", mask)
    for offset, data in (body or {}).items():
        r[offset:offset + len(data)] = data
    if command == 1:
        return harness.sealed_request_hex(r)
    return " ".join(f"{b:02X}" for b in r)


def expected_profile_request():
    return request(1, 0x0007FFFF, {
        21: struct.pack("<I", 0b11011),  # AxisMap2, hat mode, centre 2, rapid fire
        25: bytes([5, 6, 7, 0]), 29: bytes([1, 3, 4]), 32: bytes([1, 2, 3, 4, 5, 6]),
        38: struct.pack("<I", 0xA5), 42: bytes([21, 22, 23, 24, 25, 26, 0, 0]),
        50: struct.pack("<6h", 100, -2, 300, 4, 5, 6), 62: bytes(range(31, 42)),
        73: bytes(18 - i for i in range(19)), 92: struct.pack("<I", 65537), 100: bytes([2]),
        101: bytes([11, 12, 13, 270 & 0xFF])})


def sent_bytes(line):
    return line.split("bytes=")[1].strip()
