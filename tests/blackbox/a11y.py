#!/usr/bin/python3
"""Reads the windows of a running program through the accessibility bus (AT-SPI).

Usage: a11y.py PID COMMAND [ARGS...]

The program must have been started on the session bus of DBUS_SESSION_BUS_ADDRESS with
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1. A window is named by its title; a widget inside it by its role
("push button", "check box", "text", "progress bar", "label", ...) and either its accessible name
(a button's or check box's text) or "#K", the K-th widget of that role in the window (from 0, in
the order of the window's children).

Commands (exit status 1 when what is asked for is not there):
  windows                      one line per top-level window: role, a tab, title
  alert CAPTION                the texts of the message box with that caption, one per line
  states WINDOW ROLE WHO       the widget's states, blank-separated (enabled, checked, showing, ...)
  has WINDOW ROLE WHO STATE... succeeds when the widget has every STATE (a leading "!": lacks it)
  text WINDOW ROLE WHO         the widget's text (an edit's content, a label's or button's name)
  extents WINDOW ROLE WHO      "X Y WIDTH HEIGHT" of the widget on the screen
  tree                         everything, indented (for reading a failure)

Every read asks the program, which answers from its event loop: while the program is blocked in a
database statement the read waits (up to the bus's timeout).
"""
import sys

import pyatspi


def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        try:
            if app is not None and app.get_process_id() == pid:
                return app
        except Exception:   # an application that went away meanwhile
            continue
    return None


def children(node):
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield child


def states(node):
    return {pyatspi.stateToString(s) for s in node.getState().getStates()}


def windows(app):
    # Only windows that are on screen: Qt keeps hidden top-level widgets in the tree too.
    return [w for w in children(app) if 'visible' in states(w)]


def window(app, title):
    for w in windows(app):
        if w.name == title:
            return w
    return None


def descendants(node):
    for child in children(node):
        yield child
        yield from descendants(child)


def widget(app, title, role, who):
    w = window(app, title)
    if w is None:
        return None
    matches = [d for d in descendants(w) if d.getRoleName() == role]
    if who.startswith('#'):
        k = int(who[1:])
        return matches[k] if k < len(matches) else None
    for d in matches:
        if d.name == who:
            return d
    return None


def text_of(node):
    try:
        t = node.queryText()
        return t.getText(0, -1)
    except NotImplementedError:
        return node.name


def dump(node, depth=0):
    try:
        e = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        where = f'{e.x},{e.y} {e.width}x{e.height}'
    except NotImplementedError:
        where = ''
    text = ''
    try:
        text = node.queryText().getText(0, -1)
    except NotImplementedError:
        pass
    print(f"{'  ' * depth}{node.getRoleName()} {node.name!r} text={text!r} {where} [{' '.join(sorted(states(node)))}]")
    for child in children(node):
        dump(child, depth + 1)


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    pid, command, args = int(argv[1]), argv[2], argv[3:]
    app = application(pid)
    if app is None:
        print(f'a11y: no accessible application with process {pid}', file=sys.stderr)
        return 1
    if command == 'windows':
        for w in windows(app):
            print(f'{w.getRoleName()}\t{w.name}')
        return 0
    if command == 'tree':
        dump(app)
        return 0
    if command == 'alert':
        for w in windows(app):
            if w.getRoleName() == 'alert' and w.name == args[0]:
                for d in descendants(w):
                    if d.getRoleName() == 'label' and d.name:
                        print(d.name)
                return 0
        return 1
    node = widget(app, *args[:3])
    if node is None:
        print(f'a11y: no {args[1]} {args[2]!r} in the window {args[0]!r}', file=sys.stderr)
        return 1
    if command == 'states':
        print(' '.join(sorted(states(node))))
        return 0
    if command == 'has':
        have = states(node)
        for want in args[3:]:
            if want.startswith('!'):
                if want[1:] in have:
                    return 1
            elif want not in have:
                return 1
        return 0
    if command == 'text':
        print(text_of(node))
        return 0
    if command == 'extents':
        e = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        print(e.x, e.y, e.width, e.height)
        return 0
    print(f'a11y: unknown command {command}', file=sys.stderr)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv))
