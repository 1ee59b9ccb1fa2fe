"""Reads the window through the accessibility bus (AT-SPI), as a screen
reader does: the statistics values are announced with their captions, the
start button's name follows its caption, a long line in the send box reads
as one line, and a real check over a pseudo-terminal shows its figures there.

Run by run_window_on_bus.sh inside a private D-Bus session and X display.
Usage: window_on_bus.py PROGRAM
"""
import os
import select
import subprocess
import sys
import tempfile
import threading
import time

import pyatspi

DEADLINE_S = 60.0


def fail(message):
    print("FAIL: " + message, flush=True)
    sys.exit(1)


def wait_for(what, condition, deadline_s=DEADLINE_S):
    end = time.monotonic() + deadline_s
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    fail("timed out waiting for " + what)


def walk(node):
    yield node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def find(app, role, name):
    for node in walk(app):
        if node.getRole() == role and node.name == name:
            return node
    return None


def labelled_by(node):
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            return [relation.getTarget(i).name for i in range(relation.getNTargets())]
    return []


def value_with_caption(app, caption):
    """The label that the caption labels (its LABEL_FOR target)."""
    label = find(app, pyatspi.ROLE_LABEL, caption)
    if label is None:
        return None
    for relation in label.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABEL_FOR:
            return relation.getTarget(0)
    return None


def press(node):
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in ("Press", "press", "click", "Toggle", "toggle"):
            action.doAction(i)
            return
    fail("no press action on " + node.name)


def set_text(node, text):
    node.queryEditableText().setTextContents(text)


def read_long_line(box):
    """A line longer than the box holds in one piece reads as it was set:
    no line break where the pieces join, the caret where it was put."""
    line = ("0123456789" * 961)[:9604]
    set_text(box, line)
    text = box.queryText()
    wait_for("the long line in the send box", lambda: text.characterCount == len(line))
    if text.getText(0, -1) != line:
        fail("the send box reads back %r" % text.getText(0, -1)[4090:4110])
    found = text.getTextAtOffset(5000, pyatspi.TEXT_BOUNDARY_LINE_START)
    if (found[0], found[1], found[2]) != (line, 0, len(line)):
        fail("the line at offset 5000 reads from %s to %s" % (found[1], found[2]))
    text.setCaretOffset(5000)
    wait_for("the caret at offset 5000", lambda: text.caretOffset == 5000)
    print("ok: a line of %d characters reads as %d (characters 4090 to 4100: %r), "
          "the line at 5000 from %d to %d, the caret at %d"
          % (len(line), text.characterCount, text.getText(4090, 4100), found[1], found[2],
             text.caretOffset), flush=True)


def echo(master_fd, stop):
    """The far end of the cable: sends back whatever arrives."""
    while not stop.is_set():
        ready, _, _ = select.select([master_fd], [], [], 0.1)
        if not ready:
            continue
        try:
            data = os.read(master_fd, 4096)
        except OSError:
            return
        os.write(master_fd, data)


def main():
    program = sys.argv[1]
    master, slave = os.openpty()
    config = tempfile.mkdtemp(prefix="commcheck-a11y-")
    ports = os.path.join(config, "commcheck", "ports")
    os.makedirs(ports)
    os.symlink(os.ttyname(slave), os.path.join(ports, "com1"))

    env = dict(os.environ)
    env.update(XDG_CONFIG_HOME=config, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               QT_ACCESSIBILITY="1", QT_QPA_PLATFORM="xcb")
    window = subprocess.Popen([program], env=env)
    stop = threading.Event()
    echoer = threading.Thread(target=echo, args=(master, stop), daemon=True)
    echoer.start()
    try:
        desktop = pyatspi.Registry.getDesktop(0)
        app = wait_for("the window on the bus", lambda: next(
            (a for a in desktop if a is not None and a.name == "commcheck"), None))
        wait_for("the window's controls",
                 lambda: find(app, pyatspi.ROLE_PUSH_BUTTON, "オープン"))

        captions = ["時間", "累計", "最大", "最小", "カウント", "エラー"]
        for caption in captions:
            value = value_with_caption(app, caption)
            if value is None:
                fail("no value labelled by " + caption)
            if value.name != "Label4":
                fail("value of %s reads %r, not its text" % (caption, value.name))
            if labelled_by(value) != [caption]:
                fail("value of %s is labelled by %r" % (caption, labelled_by(value)))
        start = find(app, pyatspi.ROLE_PUSH_BUTTON, "開始")
        if start is None:
            fail("no button named 開始")

        press(find(app, pyatspi.ROLE_PUSH_BUTTON, "オープン"))
        send_box = wait_for("the send box",
                            lambda: find(app, pyatspi.ROLE_TEXT, "送信テキスト"))
        read_long_line(send_box)
        set_text(send_box, "ABC[13]")
        set_text(find(app, pyatspi.ROLE_TEXT, "インターバル"), "100")
        check = find(app, pyatspi.ROLE_CHECK_BOX, "通信フィードバックチェック")
        press(check)
        wait_for("the check box ticked",
                 lambda: check.getState().contains(pyatspi.STATE_CHECKED))
        send = find(app, pyatspi.ROLE_PUSH_BUTTON, "送信")
        wait_for("送信 enabled", lambda: send.getState().contains(pyatspi.STATE_ENABLED))
        press(send)
        press(start)
        wait_for("the start button named 終了", lambda: start.name == "終了")

        count = value_with_caption(app, "カウント")
        wait_for("three exchanges counted",
                 lambda: count.name not in ("Label4", "0", "1", "2"))
        last = value_with_caption(app, "時間")
        try:
            float(last.name)
        except ValueError:
            fail("時間 reads %r" % last.name)
        errors = value_with_caption(app, "エラー")
        if errors.name != "0":
            fail("エラー reads %r" % errors.name)

        press(start)
        wait_for("the start button named 開始 again", lambda: start.name == "開始")
        print("ok: values read with their captions (%s = %s ms, カウント = %s), "
              "start button follows its caption" % ("時間", last.name, count.name), flush=True)
    finally:
        stop.set()
        window.terminate()
        try:
            window.wait(10)
        except subprocess.TimeoutExpired:
            window.kill()
        echoer.join(2)


if __name__ == "__main__":
    main()
