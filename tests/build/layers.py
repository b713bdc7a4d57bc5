#!/usr/bin/env python3
"""The house's rules, read from the sources: each folder of the program
(src/) and of the agent (agent/) includes only folders below it, the
program never includes the agent, and no file of either is over 400 lines.
Prints every breach and exits 1 when there is one.
    layers.py SOURCE_DIR
"""
import os
import re
import sys

# Lowest first. A folder may include its own files and those of the
# folders before it; the agent may use the program's shared code.
ORDER = {
    'src': ['platform', 'base', 'skin', 'tunnel', 'proxy', 'update', 'app', 'win32'],
    'agent': ['common', 'tls', 'relay', 'upkeep', 'local', '', 'fuzz'],
}
MAX_LINES = 400

root = sys.argv[1]
breaches = []
for wing, order in ORDER.items():
    for folder, _, names in os.walk(os.path.join(root, wing)):
        for name in names:
            if not name.endswith(('.h', '.cpp')):
                continue
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, os.path.join(root, wing))
            room = os.path.dirname(relative).split(os.sep)[0]
            text = open(path, encoding='utf-8').read()
            if text.count('\n') > MAX_LINES:
                breaches.append(f'{wing}/{relative}: {text.count(chr(10))} lines')
            for included in re.findall(r'#include "([^"]+)"', text):
                top = included.split('/')[0] if '/' in included else ''
                if wing == 'src' and os.path.isdir(os.path.join(root, 'agent', top)) and \
                        not os.path.isdir(os.path.join(root, 'src', top)):
                    breaches.append(f'{wing}/{relative}: the program includes the agent\'s {included}')
                if top not in order or not os.path.exists(os.path.join(root, wing, included)):
                    continue  # another wing's, a build's or a system's
                if order.index(top) > order.index(room):
                    breaches.append(f'{wing}/{relative}: {room or "(top)"} includes {included}, '
                                    f'which is above it')
for breach in breaches:
    print(breach)
print(f'{len(breaches)} breaches')
sys.exit(1 if breaches else 0)
