#!/usr/bin/env python3
"""A minimal application of the synthesis service: starts the helper as a
child, sends requests over its standard input and reads the replies from its
standard output, the way a desktop application does.

usage: tts_client.py HELPER OUT_DIR MODEL_ID=MODEL_DIR... -- TEXT
Writes OUT_DIR/<model id>.wav for every model and prints what happened.
Standard library only.
"""
import json
import struct
import subprocess
import sys
import time


def frame(request):
    body = json.dumps(request).encode("utf-8")
    return struct.pack("<I", len(body)) + body


def read_reply(stream):
    header = stream.read(5)
    if len(header) < 5:
        raise SystemExit("the helper ended without a reply")
    status, length = header[0], struct.unpack("<I", header[1:])[0]
    return status, stream.read(length)


def main():
    helper, out_dir = sys.argv[1], sys.argv[2]
    split = sys.argv.index("--")
    models = [m.split("=", 1) for m in sys.argv[3:split]]
    text = " ".join(sys.argv[split + 1:])
    child = subprocess.Popen([helper], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    requests = [({"model_id": mid, "model_dir": mdir, "sid": 0, "language": "en",
                  "speed": 1.0, "text": text}, mid) for mid, mdir in models]
    # One request that the helper must refuse, to show an error reply.
    requests.append(({"model_id": models[0][0], "model_dir": models[0][1], "sid": 0,
                      "language": "fr", "speed": 1.0, "text": text}, None))
    for request, model_id in requests:
        started = time.monotonic()
        child.stdin.write(frame(request))
        child.stdin.flush()
        status, payload = read_reply(child.stdout)
        ms = (time.monotonic() - started) * 1000
        if status == 0:
            rate = struct.unpack("<I", payload[24:28])[0]
            samples = (len(payload) - 44) // 2
            path = f"{out_dir}/{model_id}.wav"
            with open(path, "wb") as f:
                f.write(payload)
            print(f"  {model_id}: {len(payload)} bytes of WAV, {samples} samples at {rate} Hz "
                  f"({samples / rate:.2f} s) in {ms:.0f} ms -> {path}")
        else:
            print(f"  language {request['language']!r}: error reply "
                  f"\"{payload.decode('utf-8')}\" in {ms:.0f} ms")
    child.stdin.close()
    code = child.wait()
    print(f"  helper exited with status {code}")
    return code


if __name__ == "__main__":
    sys.exit(main())
