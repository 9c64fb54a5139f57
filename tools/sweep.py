#!/usr/bin/python3
"""Duty sweep of output 1 beside a running panel: 0 to 100 % in tens, each held for a while,
then the process value read back. Needs Debian's python3-serial.

  pwmpanel --share tcp:5000 --record sweep.csv &
  tools/sweep.py socket://127.0.0.1:5000          (or the PATH of --share pty:PATH)
"""
import argparse
import time

import serial


def ask(port, command, answer):
    """Sends one command and returns the first line the board sends that starts with answer."""
    port.reset_input_buffer()  # what came before is not the answer
    port.write(command.encode('ascii') + b'\r')
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        line = port.read_until(b'\r').strip(b'\r\n')  # the board ends its lines with CR
        if line.startswith(answer):
            return line.decode('ascii', 'replace')
    raise SystemExit(f'no {answer.decode()} answer to {command}')


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('port', help='socket://127.0.0.1:PORT, or the path of the pseudo-terminal')
    parser.add_argument('--step', type=float, default=10.0, help='seconds at each duty (10)')
    args = parser.parse_args()
    with serial.serial_for_url(args.port, timeout=1) as port:
        for duty in range(0, 101, 10):
            ask(port, f'SV11={duty}', f'SV11={duty}'.encode())
            time.sleep(args.step)
            print(f'{duty:3} %  {ask(port, "PV01?", b"PV01=")}', flush=True)


if __name__ == '__main__':
    main()
