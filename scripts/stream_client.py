#!/usr/bin/env python3
"""A minimal application of the streaming recognition service: starts the
helper with --stream-stt, opens a recording, sends a 16 kHz mono 16-bit WAV
file in 100 ms Audio frames while printing the Partial replies, and finishes
with the Final transcript. Standard library only.

usage: stream_client.py HELPER MODEL_DIR WAV
"""
import json
import struct
import subprocess
import sys
import threading
import time
import wave

OPEN, AUDIO, FINISH = 0, 1, 2
OPENED, PARTIAL, FINAL, ERROR = 0, 1, 2, 3
NAMES = {OPENED: "Opened", PARTIAL: "Partial", FINAL: "Final", ERROR: "Error"}


def frame(tag, recording, payload=b""):
    return struct.pack("<BQI", tag, recording, len(payload)) + payload


def read_reply(stream):
    header = stream.read(13)
    if len(header) < 13:
        raise SystemExit("the helper ended without a reply")
    tag, recording, length = struct.unpack("<BQI", header)
    return tag, recording, stream.read(length).decode("utf-8")


def main():
    helper, model_dir, wav_path = sys.argv[1:4]
    with wave.open(wav_path, "rb") as w:
        if w.getframerate() != 16000 or w.getnchannels() != 1 or w.getsampwidth() != 2:
            raise SystemExit("expected a 16 kHz mono 16-bit WAV file")
        pcm = w.readframes(w.getnframes())
    values = struct.unpack("<%dh" % (len(pcm) // 2), pcm)
    samples = struct.pack("<%df" % len(values), *(v / 32768.0 for v in values))
    child = subprocess.Popen([helper, "--stream-stt"], stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE)
    recording = 7
    started = time.monotonic()

    def send(data):
        child.stdin.write(data)
        child.stdin.flush()

    send(frame(OPEN, recording, json.dumps({"model_id": "demo", "model_dir": model_dir,
                                            "language": "en"}).encode()))
    tag, rid, text = read_reply(child.stdout)
    print(f"  {NAMES[tag]} (recording {rid}) {text}".rstrip())
    if tag != OPENED:
        return 1
    # Replies are read on their own thread, so that Partial replies are shown
    # as they arrive while the audio is still being sent.
    outcome = {}

    def show_replies():
        while True:
            tag, rid, text = read_reply(child.stdout)
            ms = (time.monotonic() - started) * 1000
            print(f"  {NAMES[tag]} @{ms:6.0f} ms (recording {rid}): {text}", flush=True)
            if tag in (FINAL, ERROR):
                outcome["tag"] = tag
                return

    reader = threading.Thread(target=show_replies)
    reader.start()
    block = 1600 * 4  # 100 ms of float samples
    for at in range(0, len(samples), block):
        send(frame(AUDIO, recording, samples[at:at + block]))
    send(frame(FINISH, recording))
    reader.join()
    child.stdin.close()
    code = child.wait()
    print(f"  helper exited with status {code}")
    return 0 if outcome.get("tag") == FINAL else 1


if __name__ == "__main__":
    sys.exit(main())
