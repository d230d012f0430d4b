"""Every relative link of README.md and docs/*.md leads somewhere.

A link's file must exist, relative to the page that holds it; a "#anchor" must name a heading
of the page it points into, made into an anchor as GitHub does: lower case, spaces to "-",
other punctuation dropped, a repeated heading getting "-1", "-2", ... Links with a scheme
(https:, mailto:) are left alone, and so is whatever stands inside code.
"""

import pathlib
import re
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]

FENCE = re.compile(r"^(```|~~~)")
INLINE_CODE = re.compile(r"(`+)(?:(?!\1).)+?\1")
# [text](target) and ![alt](target); the target ends at the first space or ")".
LINK = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
HEADING = re.compile(r"^ {0,3}(#{1,6})\s+(.*?)\s*#*\s*$")
HTML_ANCHOR = re.compile(r"<a\s+(?:name|id)=\"([^\"]+)\"")


def prose_lines(text):
    """The page's lines outside fenced code blocks, with their line numbers."""
    inside = False
    for number, line in enumerate(text.splitlines(), 1):
        if FENCE.match(line.lstrip()):
            inside = not inside
            continue
        if not inside:
            yield number, line


def anchor(heading):
    """The anchor GitHub gives a heading's text."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # a link: its text
    text = re.sub(r"<[^>]+>", "", text)  # inline HTML
    text = text.strip().lower()
    text = re.sub(r"[^\w\- ]", "", text)  # punctuation, backticks included; "_" stays
    return text.replace(" ", "-")


def anchors(page):
    """Every anchor a Markdown page offers."""
    found, seen = set(), {}
    for _, line in prose_lines(page.read_text()):
        heading = HEADING.match(line)
        if heading:
            name = anchor(heading.group(2))
            count = seen.get(name, 0)
            seen[name] = count + 1
            found.add(name if count == 0 else "%s-%d" % (name, count))
        found.update(HTML_ANCHOR.findall(line))
    return found


def links(page):
    """(line number, target) for every link on the page, code left out."""
    for number, line in prose_lines(page.read_text()):
        for target in LINK.findall(INLINE_CODE.sub("", line)):
            yield number, target


def broken_links(root):
    """One message for each link under root that leads nowhere."""
    pages = [root / "README.md"] + sorted((root / "docs").glob("*.md"))
    problems = []
    for page in pages:
        for number, target in links(page):
            if re.match(r"^[a-zA-Z][a-zA-Z0-9+.-]*:", target):
                continue  # https:, mailto:, ...
            path, _, fragment = target.partition("#")
            where = (page.parent / path).resolve() if path else page
            place = "%s:%d: %s" % (page.relative_to(root), number, target)
            if not where.exists():
                problems.append(place + ": no such file")
            elif fragment and where.suffix == ".md" and fragment not in anchors(where):
                problems.append(place + ": no heading makes #" + fragment)
            elif fragment and where.suffix != ".md":
                problems.append(place + ": an anchor into a file that is no page")
    return problems


class LinksTest(unittest.TestCase):
    def test_every_link_leads_to_a_file_and_heading(self):
        self.assertTrue((ROOT / "README.md").is_file())
        self.assertEqual(broken_links(ROOT), [])

    def test_anchors_are_made_as_github_makes_them(self):
        self.assertEqual(anchor("Every frame, from C and Python"), "every-frame-from-c-and-python")
        self.assertEqual(anchor("The `chirolink` command"), "the-chirolink-command")
        self.assertEqual(anchor("Using Chirolink.dll from C"), "using-chirolinkdll-from-c")
        self.assertEqual(anchor("Who may open the port, and a name that stays"),
                         "who-may-open-the-port-and-a-name-that-stays")
        self.assertEqual(anchor("snake_case and 2 spaces  here"), "snake_case-and-2-spaces--here")


if __name__ == "__main__":
    unittest.main()
