# Writes gif-code-table-full.gif: 100 x 100 of noise, LZW codes filling the table (4096) and
# going on without a clear code (a "deferred clear", which GIF allows).  python3 make-code-table-full.py
import struct, random
random.seed(5)
W,H=100,100
pix=[random.randrange(256) for _ in range(W*H)]
mcs=8; clear=256; eoi=257
codes=[]; 
dic={bytes([i]):i for i in range(256)}
nxt=258; size=9
out=[]  # (code, size)
out.append((clear,size))
w=b''
for p in pix:
    c=bytes([p]); wc=w+c
    if wc in dic: w=wc; continue
    out.append((dic[w],size))
    if nxt<4096:
        dic[wc]=nxt; nxt+=1
        if nxt>(1<<size) and size<12: size+=1
    # deferred clear: table full, keep going without adding
    w=c
out.append((dic[w],size)); out.append((eoi,size))
# pack bits
acc=0; n=0; data=bytearray()
for code,s in out:
    acc|=code<<n; n+=s
    while n>=8: data.append(acc&255); acc>>=8; n-=8
if n: data.append(acc&255)
blocks=bytearray()
for i in range(0,len(data),255):
    ch=data[i:i+255]; blocks.append(len(ch)); blocks+=ch
blocks.append(0)
pal=bytearray()
for i in range(256): pal+=bytes([i,255-i,(i*7)&255])
g=b'GIF89a'+struct.pack('<HHBBB',W,H,0xF7,0,0)+pal+b','+struct.pack('<HHHHB',0,0,W,H,0)+bytes([mcs])+blocks+b';'
open('gif-code-table-full.gif', 'wb').write(g)
