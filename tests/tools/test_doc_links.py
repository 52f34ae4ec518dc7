#!/usr/bin/env python3
"""Every relative link of the documentation leads somewhere.

  test_doc_links.py SRCDIR

Reads README.md, every docs/*.md and every other README.md of the tree, and checks
each Markdown link that is not a web address: the file or folder it names exists,
and its #anchor, if any, is a heading of the target (GitHub's anchors: lower case,
punctuation dropped, spaces to hyphens).
"""
import glob
import os
import re
import sys

LINK = re.compile(r'(?<!!)\[[^\]]*\]\(([^)\s]+)\)')


def anchors(path):
    out, fence = set(), False
    for line in open(path, encoding='utf-8'):
        if line.startswith('```'):
            fence = not fence
        m = None if fence else re.match(r'^#{1,6}\s+(.*?)\s*$', line)
        if m:
            slug = re.sub(r'[^\w\- ]', '', m.group(1).strip().lower()).replace(' ', '-')
            n = 1
            base = slug
            while slug in out:
                slug, n = f'{base}-{n}', n + 1
            out.add(slug)
    return out


def links(path):
    fence = False
    for no, line in enumerate(open(path, encoding='utf-8'), 1):
        if line.startswith('```'):
            fence = not fence
        if fence:
            continue
        for m in LINK.finditer(re.sub(r'`[^`]*`', '', line)):
            yield no, m.group(1)


def main():
    src = sys.argv[1]
    pages = [os.path.join(src, 'README.md')] + sorted(glob.glob(os.path.join(src, 'docs', '*.md')))
    pages += [p for p in sorted(glob.glob(os.path.join(src, '*', 'README.md'))) if p not in pages]
    bad, count = [], 0
    for page in pages:
        for no, target in links(page):
            if re.match(r'^[a-z]+:', target):
                continue
            count += 1
            file, _, anchor = target.partition('#')
            dest = os.path.normpath(os.path.join(os.path.dirname(page), file)) if file else page
            where = f'{os.path.relpath(page, src)}:{no}: {target}'
            if not os.path.exists(dest):
                bad.append(f'{where}: no such file or folder')
            elif anchor and (os.path.isdir(dest) or anchor not in anchors(dest)):
                bad.append(f'{where}: no heading with anchor #{anchor}')
    for b in bad:
        print('BROKEN', b)
    print(f'{count} links in {len(pages)} pages, {len(bad)} broken')
    return 1 if bad or count == 0 else 0


if __name__ == '__main__':
    sys.exit(main())
