"""Where an IMAP client's run goes, from a trace of it over plain IMAP (imap+plain:// for
mailsheaf-pack, SSLType None for mbsync), so that the commands can be read:

    strace -f --seccomp-bpf -ttt -s 10000000 \
      -e trace=connect,read,write,sendto,recvfrom,exit_group -o TRACE CLIENT...
    phases.py TRACE

Prints the time from the start to the first command, the time with no command outstanding
(the client's own work between answers), and per kind of command how many went and the time
from each sent to its tagged answer (summed; commands in flight together overlap).
"""
import collections
import re
import sys

L=open(sys.argv[1]).read().splitlines()
t0=float(L[0].split()[1]); end=float(L[-1].split()[1])-t0
sock=None
for l in L:
    m=re.search(r'connect\((\d+), \{sa_family=AF_INET',l)
    if m: sock=m.group(1); break
pending={}; busy=collections.Counter(); count=collections.Counter(); idle=0.0; last=None; first=None
for l in L:
    p=l.split(None,2)
    if len(p)<3: continue
    ts=float(p[1])-t0; call=p[2]
    m=re.match(r'(write|sendto|read|recvfrom)\((\d+), "',call)
    if not m or m.group(2)!=sock: continue
    if m.group(1) in ('write','sendto'):
        for c in re.finditer(r'(?:^\w+\(\d+, "|\\r\\n)([a-z]?\d+) (UID FETCH|[A-Z]+)',call):
            if first is None: first=ts
            if not pending and last is not None: idle+=ts-last
            pending[c.group(1)]=(c.group(2),ts)
    else:
        for a in re.finditer(r'(?:\\r\\n|")([a-z]?\d+) (OK|NO|BAD)',call):
            if a.group(1) in pending:
                k,s=pending.pop(a.group(1)); busy[k]+=ts-s; count[k]+=1
                if not pending: last=ts
print(f"{sys.argv[1]}: total {end:.3f} s; start to first command {first:.3f}; no command outstanding {idle:.3f}; outstanding {sum(busy.values()):.3f} (summed)")
for k,v in busy.most_common(): print(f"    {k:<12} {count[k]:5d} x  {v:.3f} s")
