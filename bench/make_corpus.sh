#!/usr/bin/env bash
# Makes the carving corpus into DIR (default bench/data/corpus), once:
#   files/         real files made by real tools (ImageMagick, sox, ghostscript, zip, gzip, 7z,
#                  bzip2, ffmpeg, LibreOffice), several of each format, a few KB to a few MB
#   corpus.img     256 MiB of random filler with those files planted at sector-aligned offsets;
#                  some files directly follow another one, others have random bytes after them
#   manifest.tsv   name, offset, size, sha256, format of every planted file
# A tool that is missing is skipped with a message; its formats are then not in the corpus.
# Everything random comes from fixed seeds, so the image is the same from run to run as long
# as the tools make the same files.
set -euo pipefail
dir=${1:-$(dirname "$0")/data/corpus}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
if [ -f "$dir/corpus.img" ] && [ -f "$dir/manifest.tsv" ]; then exit 0; fi
files=$dir/files
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

have() {
  if command -v "$1" >/dev/null 2>&1; then return 0; fi
  echo "make_corpus: $1 is not installed; its formats are left out" >&2
  return 1
}

make_files() {
# Filler for archives and documents: text that compresses like prose, and bytes that do not.
python3 - "$work" <<'PY'
import random, sys
rnd = random.Random(77)
words = ("drive sector cluster folder record recovery image volume table photo letter invoice "
         "report budget quarter meeting minutes project garden holiday kitchen station").split()
def prose(n):
    return "\n".join(" ".join(rnd.choice(words) for _ in range(rnd.randrange(6, 16)))
                     for _ in range(n)) + "\n"
w = sys.argv[1]
for i, lines in enumerate([40, 800, 12000, 60000]):
    open(f"{w}/text{i}.txt", "w").write(prose(lines))
for i, n in enumerate([3000, 70000, 900000]):
    open(f"{w}/noise{i}.bin", "wb").write(rnd.randbytes(n))
for i, rows in enumerate([30, 2000, 20000]):
    with open(f"{w}/sheet{i}.csv", "w") as f:
        f.write("date,item,count,price\n")
        for r in range(rows):
            f.write(f"2024-{1 + r % 12:02d}-{1 + r % 28:02d},{rnd.choice(words)},{rnd.randrange(1000)},"
                    f"{rnd.randrange(100000) / 100}\n")
PY

if have convert; then
  echo "make_corpus: images (ImageMagick)"
  # A camera-like EXIF block with a JPEG thumbnail inside it, for the photos.
  convert -seed 5 -size 160x120 plasma:fractal -quality 70 "$work/thumb.jpg"
  python3 - "$work/thumb.jpg" "$work/exif.bin" <<'PY'
import struct, sys
thumb = open(sys.argv[1], "rb").read()
def ifd(entries, nxt, at):
    out, extra = struct.pack("<H", len(entries)), b""
    data = at + 2 + 12 * len(entries) + 4
    for tag, typ, count, value in entries:
        if len(value) <= 4:
            out += struct.pack("<HHI", tag, typ, count) + value.ljust(4, b"\0")
        else:
            out += struct.pack("<HHII", tag, typ, count, data + len(extra))
            extra += value + b"\0" * (len(value) % 2)
    return out + struct.pack("<I", nxt) + extra
ifd0 = [(0x10F, 2, 17, b"Vellumark Camera\0"), (0x110, 2, 5, b"VC-1\0"), (0x132, 2, 20, b"2024:05:01 10:00:00\0")]
at1 = 8 + len(ifd(ifd0, 0, 8))
ifd1 = [(0x103, 3, 1, struct.pack("<H", 6)), (0x201, 4, 1, b"\0" * 4), (0x202, 4, 1, struct.pack("<I", len(thumb)))]
ifd1[1] = (0x201, 4, 1, struct.pack("<I", at1 + len(ifd(ifd1, 0, at1))))
tiff = b"II*\0" + struct.pack("<I", 8) + ifd(ifd0, at1, 8) + ifd(ifd1, 0, at1) + thumb
open(sys.argv[2], "wb").write(b"Exif\0\0" + tiff)
PY
  n=0
  for shape in "320x240 plasma:fractal 85" "1024x768 plasma:fractal 92" "2400x1800 plasma:fractal 95" \
              "800x600 gradient:navy-gold 90" "3000x2000 xc:gray50 +noise Gaussian 97"; do
    set -- $shape
    size=$1; shift; quality=${*: -1}; src=${*:1:$#-1}
    n=$((n + 1))
    convert -seed $n -size "$size" $src -quality "$quality" -profile "APP1:$work/exif.bin" "$files/photo$n.jpg"
  done
  convert -seed 11 -size 1600x1200 plasma:fractal -interlace Plane -quality 90 "$files/progressive1.jpg"
  convert -seed 12 -size 400x300 plasma:fractal -interlace Plane -quality 75 "$files/progressive2.jpg"
  convert -seed 13 -size 64x64 plasma:fractal -quality 60 "$files/small.jpg"
  convert -seed 21 -size 48x48 plasma:fractal "$files/icon.png"
  convert -seed 22 -size 800x600 plasma:fractal "$files/picture.png"
  convert -seed 23 -size 1200x900 gradient:red-blue -alpha set -channel A -evaluate set 60% "$files/alpha.png"
  convert -seed 24 -size 1000x1000 xc:gray +noise Random "$files/noise.png"
  convert -seed 31 -size 120x80 plasma:fractal -colors 64 "$files/small.gif"
  convert -seed 32 -size 640x480 plasma:fractal -colors 256 "$files/picture.gif"
  convert -seed 33 -delay 10 -loop 0 -size 200x150 plasma:fractal plasma:fractal plasma:fractal plasma:fractal \
    "$files/animated.gif"
  convert -seed 34 -delay 5 -loop 0 -size 500x400 xc:white -fill red -draw "circle 250,200 250,100" \
    xc:white -fill blue -draw "rectangle 50,50 450,350" xc:black "$files/animated2.gif"
  convert -seed 41 -size 100x80 plasma:fractal "$files/small.bmp"
  convert -seed 42 -size 900x700 plasma:fractal BMP3:"$files/picture.bmp"
  convert -seed 43 -size 1500x1000 gradient:green-yellow "$files/large.bmp"
  convert -seed 51 -size 300x200 plasma:fractal -compress none "$files/plain.tif"
  convert -seed 52 -size 1000x800 plasma:fractal -compress lzw "$files/lzw.tif"
  convert -seed 53 -size 640x480 plasma:fractal -endian MSB -compress zip "$files/motorola.tif"
  convert -seed 54 -size 200x150 plasma:fractal plasma:fractal plasma:fractal "$files/pages.tif"
fi

if have sox; then
  echo "make_corpus: sound (sox)"
  sox -n -r 8000 -c 1 -b 16 "$files/beep.wav" synth 0.5 sine 880
  sox -n -r 22050 -c 1 -b 8 "$files/tone.wav" synth 3 sine 300-900
  sox -n -r 44100 -c 2 -b 16 "$files/chord.wav" synth 8 sine 440 sine 554
  sox -n -r 48000 -c 2 -b 24 "$files/noise.wav" synth 12 pinknoise
fi

if have gs; then
  echo "make_corpus: documents (ghostscript)"
  for pages in 1 4 12 40; do
    python3 - "$pages" > "$work/doc$pages.ps" <<'PY'
import random, sys
pages = int(sys.argv[1])
rnd = random.Random(pages)
print("%!PS")
for p in range(pages):
    print("/Helvetica findfont 14 scalefont setfont")
    for line in range(40):
        print(f"72 {740 - line * 16} moveto (Page {p + 1} line {line + 1}: "
              f"{' '.join(rnd.choice(['drive', 'sector', 'lost', 'file', 'table', 'record']) for _ in range(8))}) show")
    for _ in range(20):
        print(f"{rnd.random():.2f} {rnd.random():.2f} {rnd.random():.2f} setrgbcolor "
              f"{rnd.randrange(500)} {rnd.randrange(700)} {rnd.randrange(10, 90)} 0 360 arc fill 0 setgray")
    print("showpage")
PY
    gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=pdfwrite -sOutputFile="$files/document$pages.pdf" "$work/doc$pages.ps"
  done
  viewjpeg=$(find /usr/share/ghostscript -name viewjpeg.ps 2>/dev/null | head -1)
  if [ -f "$files/photo2.jpg" ] && [ -n "$viewjpeg" ]; then  # a PDF that holds a photo
    gs -q -dBATCH -dNOPAUSE -dNOSAFER -sDEVICE=pdfwrite -sOutputFile="$files/photo.pdf" "$viewjpeg" \
      -c "($files/photo2.jpg) viewJPEG showpage" >/dev/null 2>&1 || rm -f "$files/photo.pdf"
  fi
fi

if have zip; then
  echo "make_corpus: zip"
  (cd "$work" && zip -q -X "$files/texts.zip" text0.txt text1.txt text2.txt)
  (cd "$work" && zip -q -X -0 "$files/stored.zip" noise0.bin text0.txt)
  (cd "$work" && zip -q -X "$files/mixed.zip" noise1.bin noise2.bin text3.txt)
  mkdir -p "$work/jar/META-INF" "$work/jar/org/example"
  printf 'Manifest-Version: 1.0\r\nMain-Class: org.example.Main\r\n\r\n' > "$work/jar/META-INF/MANIFEST.MF"
  cp "$work/noise1.bin" "$work/jar/org/example/Main.class"
  cp "$work/text1.txt" "$work/jar/org/example/messages.properties"
  (cd "$work/jar" && zip -q -X -r "$files/library.jar" META-INF org)
fi
if have gzip; then
  echo "make_corpus: gzip"
  gzip -n -9 -c "$work/text1.txt" > "$files/text.gz"
  gzip -n -c "$work/text3.txt" > "$files/large.gz"
  gzip -n -c "$work/noise1.bin" > "$files/noise.gz"
fi
if have bzip2; then
  echo "make_corpus: bzip2"
  bzip2 -c "$work/text2.txt" > "$files/text.bz2"
  bzip2 -c "$work/noise2.bin" > "$files/noise.bz2"
  bzip2 -c "$work/text0.txt" > "$files/small.bz2"
fi
if have 7z; then
  echo "make_corpus: 7z"
  (cd "$work" && 7z a -bd -bso0 "$files/texts.7z" text1.txt text2.txt)
  (cd "$work" && 7z a -bd -bso0 "$files/mixed.7z" noise1.bin text3.txt)
  (cd "$work" && 7z a -bd -bso0 -mx=0 "$files/stored.7z" noise0.bin)
fi

if have ffmpeg; then
  echo "make_corpus: video (ffmpeg)"
  ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
  ff -f lavfi -i testsrc=duration=2:size=320x240:rate=25 -c:v mpeg4 "$files/clip.mp4"
  ff -f lavfi -i testsrc=duration=5:size=640x480:rate=25 -f lavfi -i sine=duration=5 -c:v mpeg4 -c:a aac \
    -movflags +faststart "$files/faststart.mp4"
  ff -f lavfi -i testsrc2=duration=3:size=480x360:rate=30 -c:v mpeg4 "$files/clip.mov"
  if ffmpeg -hide_banner -encoders 2>/dev/null | grep libx264 >/dev/null; then
    ff -f lavfi -i testsrc=duration=4:size=640x360:rate=25 -c:v libx264 -pix_fmt yuv420p "$files/h264.mp4"
  fi
fi

if have soffice; then
  echo "make_corpus: office documents (LibreOffice)"
  mkdir -p "$work/office" "$work/home"
  cp "$work/text0.txt" "$work/office/letter.txt"
  cp "$work/text2.txt" "$work/office/report.txt"
  cp "$work/sheet0.csv" "$work/office/small.csv"
  cp "$work/sheet2.csv" "$work/office/ledger.csv"
  python3 - "$work/office" <<'PY'
import sys
def slides(n):
    pages = "".join(
        f'<draw:page draw:name="s{i}"><draw:frame svg:x="2cm" svg:y="2cm" svg:width="20cm" svg:height="3cm">'
        f'<draw:text-box><text:p>Slide {i + 1}: quarterly figures for the garden project</text:p>'
        f'</draw:text-box></draw:frame><draw:custom-shape svg:x="{2 + i % 10}cm" svg:y="8cm" svg:width="6cm" '
        f'svg:height="4cm"><draw:enhanced-geometry draw:type="ellipse"/></draw:custom-shape></draw:page>'
        for i in range(n))
    return ('<?xml version="1.0" encoding="UTF-8"?><office:document xmlns:office="urn:oasis:names:tc:opendocument:'
            'xmlns:office:1.0" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:text="urn:oasis:'
            'names:tc:opendocument:xmlns:text:1.0" xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"'
            ' office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.presentation"><office:body>'
            f'<office:presentation>{pages}</office:presentation></office:body></office:document>')
for name, n in (("slides", 3), ("deck", 30)):
    open(f"{sys.argv[1]}/{name}.fodp", "w").write(slides(n))
PY
  lo() { HOME=$work/home timeout 120 soffice --headless -env:UserInstallation=file://$work/lo-profile "$@" \
           --outdir "$files" >/dev/null 2>&1 || echo "make_corpus: soffice $* failed" >&2; }
  lo --convert-to doc "$work/office/letter.txt" "$work/office/report.txt"
  lo --convert-to xls "$work/office/small.csv" "$work/office/ledger.csv"
  lo --convert-to ppt "$work/office/slides.fodp" "$work/office/deck.fodp"
fi

}

# The files are made once (LibreOffice alone takes a minute); the image is planted from them.
if [ ! -f "$files/.complete" ]; then
  rm -rf "$files"
  mkdir -p "$files"
  make_files
  touch "$files/.complete"
fi

echo "make_corpus: planting into corpus.img"
python3 - "$files" "$dir/corpus.img" "$dir/manifest.tsv" <<'PY'
import hashlib, os, random, sys
files, image, manifest = sys.argv[1:]
rnd = random.Random(20240501)
size = 256 << 20
names = sorted(n for n in os.listdir(files) if not n.startswith("."))
rnd.shuffle(names)
img = bytearray(b"".join(rnd.randbytes(1 << 20) for _ in range(size >> 20)))
align = lambda n: (n + 511) // 512 * 512
pos = 1 << 20
rows = []
for name in names:
    data = open(os.path.join(files, name), "rb").read()
    if pos + len(data) > size:
        sys.exit(f"make_corpus: the files do not fit into {size} bytes")
    img[pos:pos + len(data)] = data
    ext = name.rsplit(".", 1)[1]
    rows.append((name, pos, len(data), hashlib.sha256(data).hexdigest(), ext))
    pos = align(pos + len(data))
    if rnd.random() < 0.6:  # random bytes after the file; otherwise the next one follows at once
        pos += 512 * rnd.randrange(1, 400)
open(image, "wb").write(img)
with open(manifest, "w") as out:
    out.write("name\toffset\tsize\tsha256\tformat\n")
    for r in sorted(rows, key=lambda r: r[1]):
        out.write("\t".join(map(str, r)) + "\n")
print(f"make_corpus: {len(rows)} files, {sum(r[2] for r in rows)} bytes planted in {size >> 20} MiB")
PY
