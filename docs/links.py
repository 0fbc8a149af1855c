#!/usr/bin/env python3
"""Checks that every relative link and image of README.md, bench/README.md
and docs/*.md points to an existing file and, with #anchor, to a heading of
that file (GitHub's anchors). usage: docs/links.py; exit status 1 lists the
bad ones."""
import pathlib, re, sys

root = pathlib.Path(__file__).resolve().parent.parent
pages = [root / 'README.md', root / 'bench/README.md',
         *sorted((root / 'docs').glob('*.md'))]
link = re.compile(r'!?\[[^\]]*\]\(([^)\s]+)\)')


def anchors(page):
    text = re.sub(r'```.*?```', '', page.read_text(), flags=re.S)
    seen, out = {}, set()
    for h in re.findall(r'^#{1,6} +(.+?) *$', text, flags=re.M):
        slug = re.sub(r'[^\w\- ]', '', h.lower()).replace(' ', '-')
        n = seen.get(slug, 0)
        seen[slug] = n + 1
        out.add(slug if n == 0 else f'{slug}-{n}')
    return out


bad = []
for page in pages:
    # Code spans and blocks hold paths and commands, not links.
    text = re.sub(r'```.*?```|`[^`\n]*`', '', page.read_text(), flags=re.S)
    for target in link.findall(text):
        if re.match(r'[a-z]+:', target):
            continue  # http:, mailto:
        path, _, anchor = target.partition('#')
        dest = (page.parent / path).resolve() if path else page
        if not dest.exists():
            bad.append(f'{page.relative_to(root)}: {target}: no such file')
        elif anchor and (dest.suffix != '.md' or anchor not in anchors(dest)):
            bad.append(f'{page.relative_to(root)}: {target}: no such heading')
print('\n'.join(bad) or f'{len(pages)} pages, every relative link resolves')
sys.exit(1 if bad else 0)
