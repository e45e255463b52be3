#!/usr/bin/env python3
"""Reads the help and the pages that open it with a real HTML parser, for the help tests.

  helpcheck.py sections HELP    -> JSON {"N": first sentence of the section with id="ctxN"}
  helpcheck.py redirect PAGE... -> JSON {PAGE: {"refresh": url of the meta refresh, "script":
                                   url the script goes to, "link": href of the page's link}}
  helpcheck.py mailto URL       -> JSON {"address", "subject", "body"} of a mailto: address
"""
import html.parser
import json
import re
import sys
import urllib.parse


class Sections(html.parser.HTMLParser):
    """The text of the first paragraph after each element with an id "ctxN"."""

    def __init__(self):
        super().__init__()
        self.found = {}
        self.pending = None  # section whose first paragraph is still to come
        self.inside = None   # section whose first paragraph is being read
        self.text = []
        self.ids = []

    def handle_starttag(self, tag, attrs):
        ident = dict(attrs).get("id") or ""
        self.ids.append(ident)
        m = re.fullmatch(r"ctx(\d+)", ident)
        if m:
            self.pending = m.group(1)
        elif tag == "p" and self.pending is not None and self.inside is None:
            self.inside, self.pending, self.text = self.pending, None, []

    def handle_endtag(self, tag):
        if tag == "p" and self.inside is not None:
            text = " ".join("".join(self.text).split())
            stop = text.find(". ")
            self.found[self.inside] = text if stop < 0 else text[: stop + 1]
            self.inside = None

    def handle_data(self, data):
        if self.inside is not None:
            self.text.append(data)


class Redirect(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.out = {}
        self.in_script = False

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "meta" and (a.get("http-equiv") or "").lower() == "refresh":
            self.out["refresh"] = re.sub(r"^\s*\d+\s*;\s*url=", "", a.get("content") or "")
        elif tag == "a":
            self.out["link"] = a.get("href")
        self.in_script = tag == "script"

    def handle_endtag(self, tag):
        self.in_script = False

    def handle_data(self, data):
        if self.in_script:
            m = re.search(r'location\.replace\("([^"]*)"\)', data)
            if m:
                self.out["script"] = m.group(1)


def main():
    mode, arg = sys.argv[1], sys.argv[2]
    if mode == "sections":
        p = Sections()
        with open(arg, encoding="utf-8") as f:
            p.feed(f.read())
        dupes = sorted({i for i in p.ids if i and p.ids.count(i) > 1})
        if dupes:
            sys.exit("ids used twice: " + " ".join(dupes))
        print(json.dumps(p.found))
    elif mode == "redirect":
        out = {}
        for page in sys.argv[2:]:
            p = Redirect()
            with open(page, encoding="utf-8") as f:
                p.feed(f.read())
            out[page] = p.out
        print(json.dumps(out))
    elif mode == "mailto":
        u = urllib.parse.urlsplit(arg)
        q = urllib.parse.parse_qs(u.query, keep_blank_values=True, strict_parsing=True)
        print(json.dumps({"scheme": u.scheme, "address": urllib.parse.unquote(u.path),
                          "subject": q["subject"][0], "body": q["body"][0]}, ensure_ascii=False))


main()
