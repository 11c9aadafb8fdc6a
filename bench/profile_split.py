#!/usr/bin/env python3
"""Usage: profile_split.py CALLGRIND_OUT FRAMES

Splits a callgrind profile by whose code runs: each function's own instructions go to its
object (the rover's module, the host library, the program), and a call from one of them into a
system library (libm, libc, libstdc++) goes, with everything under it, to the caller's side."""
import re, sys, collections
path, frames = sys.argv[1], int(sys.argv[2])
names = {'ob': {}, 'fn': {}, 'fl': {}}
def name(kind, text):
    m = re.match(r'\((\d+)\)(?: (.*))?', text)
    if not m:
        return text
    if m.group(2) is not None:
        names[kind][m.group(1)] = m.group(2)
    return names[kind][m.group(1)]
def side(ob):
    if 'libSendra2016' in ob: return 'rover'
    if 'libOrbiterHost' in ob: return 'host'
    if ob.endswith('sendra-sim'): return 'program'
    return None
selfc = collections.Counter(); lib = collections.Counter(); perfn = collections.Counter()
ob = fn = cob = cfn = None; pending = False; fnob = {}
for line in open(path):
    line = line.rstrip('\n')
    if line.startswith('ob='): ob = name('ob', line[3:]); continue
    if line.startswith('fn='): fn = name('fn', line[3:]); fnob[fn] = ob; continue
    if line.startswith('cob='): cob = name('ob', line[4:]); continue
    if line.startswith('cfn='): cfn = name('fn', line[4:]); continue
    if line.startswith(('fl=', 'fi=', 'fe=')): name('fl', line[3:]); continue
    if line.startswith(('cfi=', 'cfl=')): name('fl', line[4:]); continue
    if line.startswith('calls='): pending = True; continue
    if not line or not (line[0].isdigit() or line[0] in '+-*'): continue
    parts = line.split()
    if len(parts) < 2: continue
    cost = int(parts[1])
    if pending:
        pending = False
        callee_ob = cob if cob is not None else ob
        s = side(ob)
        if s and side(callee_ob) is None and "libc_start" not in cfn and "below main" not in cfn:
            lib[s] += cost
            perfn[(s, cfn + ' (from ' + fn + ')')] += cost
        cob = None
        continue
    s = side(ob) or 'system'
    selfc[s] += cost
    perfn[(s, fn)] += cost
total = sum(selfc.values())
print(f'total {total/frames:,.0f} a frame')
for s in ('rover', 'host', 'program'):
    print(f'{s}: own {selfc[s]/frames:,.0f}, system libraries it calls {lib[s]/frames:,.0f}, together {(selfc[s]+lib[s])/frames:,.0f}')
print(f'system libraries not attributed: {(selfc["system"] - sum(lib.values()))/frames:,.0f}')
for (s, f), c in perfn.most_common(45):
    if c / frames >= 20:
        print(f'{c/frames:8,.0f}  {s:8} {f[:150]}')
