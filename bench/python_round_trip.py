#!/usr/bin/python3
"""The reference client of bench_network: Python's serial library (Debian's
python3-serial) opens a line by its URL and times round trips of a text
against an echo, as commcheck-cli check --precise does: the clock is read just
before the text is written and again once the whole echo is back. Probes go
out on the same fixed interval as commcheck-cli's.

    /usr/bin/python3 bench/python_round_trip.py URL COUNT HEXTEXT INTERVAL_MS

Prints "open_ns N" (serial_for_url with the line settings, until it returns),
then one "round_trip_ns N" line per exchange. Exits 1, with the reason on
standard error, when the line cannot be opened or an echo is wrong or late.
"""
import sys
import time

try:
    import serial
except ImportError:
    sys.exit("python_round_trip: no serial library (apt-get install python3-serial)")

# An echo not back whole after this long ends the run.
READ_LIMIT_S = 5.0


def main():
    if len(sys.argv) != 5:
        sys.exit("usage: python_round_trip.py URL COUNT HEXTEXT INTERVAL_MS")
    url = sys.argv[1]
    count = int(sys.argv[2])
    text = bytes.fromhex(sys.argv[3])
    interval_ns = int(sys.argv[4]) * 1000000

    # The settings commcheck-cli asks for unless told otherwise.
    before = time.perf_counter_ns()
    try:
        port = serial.serial_for_url(url, baudrate=9600, bytesize=serial.EIGHTBITS,
                                     parity=serial.PARITY_NONE,
                                     stopbits=serial.STOPBITS_ONE, xonxoff=True,
                                     timeout=READ_LIMIT_S)
    except (serial.SerialException, ValueError) as error:
        sys.exit(f"python_round_trip: cannot open {url}: {error}")
    opened = time.perf_counter_ns()
    print(f"open_ns {opened - before}", flush=True)

    try:
        port.reset_input_buffer()
        next_probe = time.perf_counter_ns()
        for number in range(1, count + 1):
            wait = next_probe - time.perf_counter_ns()
            if wait > 0:
                time.sleep(wait / 1e9)
            next_probe += interval_ns
            start = time.perf_counter_ns()
            port.write(text)
            echo = b""
            while len(echo) < len(text):
                piece = port.read(len(text) - len(echo))
                if not piece:
                    sys.exit(f"python_round_trip: probe {number}: no whole echo within "
                             f"{READ_LIMIT_S} s (got {echo!r})")
                echo += piece
            end = time.perf_counter_ns()
            if echo != text:
                sys.exit(f"python_round_trip: probe {number}: echo {echo!r}, not {text!r}")
            print(f"round_trip_ns {end - start}", flush=True)
    finally:
        port.close()


if __name__ == "__main__":
    main()
