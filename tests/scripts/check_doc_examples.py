#!/usr/bin/env python3
"""Holds the docs' host snippets and the examples to the rules every host
follows, and runs the docs' examples that can run here.

  check_doc_examples.py SOURCE_DIR WORK_DIR

- Each fenced host snippet in README.md and docs/*.md, and each host example
  in examples/, is held to RULES.
- The C# example is compiled with the docs' own mcs command, and each C#
  snippet with it (no .NET runtime runs here to run them).
- The .gitattributes example is run through git with core.autocrlf=true.
"""
import glob
import os
import re
import shutil
import subprocess
import sys

HOST_LANGUAGES = {"powershell", "csharp", "vb", "js", "vbscript", "cpp"}
EXAMPLE_LANGUAGES = {".cpp": "cpp", ".cs": "csharp", ".vbs": "vbscript", ".js": "js"}
CREATES = r"CreateObject\(|New-Object -ComObject|new ActiveXObject|GetTypeFromProgID|New QELUpdateCheck|CoCreateInstance"
HAS_EVENT = r"WithEvents|->Advise\(|\.UpdateCheckComplete\s*\+="

# (what the unit must do, when it applies, what shows that it does)
RULES = [
    ("compare versions by order beside IsUpgradeAvailable", r"IsUpgradeAvailable\s*\(",
     r"\border\b|IsNewer|CompareTo|-gt \[version\]"),
    ("ask IsActive while it waits", r"StartCheck", r"\bIsActive\b"),
    ("treat a failed IsActive as the server's end", r"\bIsActive\b",
     r"\btry\b|On Error|SUCCEEDED\(|FAILED\("),
    ("read major 0 as a failure when it waits without the event", (r"StartCheck", HAS_EVENT),
     r"Major\s*(=|==|!=|<>|-eq)\s*0"),
    ("release the object", CREATES,
     r"FinalReleaseComObject|=\s*Nothing|=\s*null\b|->Release\(\)"),
    ("read `error` first from --json", r"--json", r"\.error\b"),
]


def snippets(path):
    """(language, first line, text) of each fenced block with a language."""
    language, start, lines = None, 0, []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            fence = re.match(r"^\s*```(\S*)", line)
            if fence and language is None:
                language, start, lines = fence.group(1) or "", number, []
            elif fence:
                yield language, start, "".join(lines)
                language = None
            elif language is not None:
                lines.append(line)


def applies(when, text):
    if isinstance(when, tuple):
        return re.search(when[0], text) and not re.search(when[1], text)
    return re.search(when, text)


def broken_rules(units):
    broken = []
    for where, text in units:
        for rule, when, shows in RULES:
            if applies(when, text) and not re.search(shows, text):
                broken.append("%s: does not %s" % (where, rule))
    return broken


def mcs(args, cwd):
    result = subprocess.run(args, cwd=cwd, capture_output=True, text=True)
    return [] if result.returncode == 0 else ["mcs failed in %s:\n%s%s" % (cwd, result.stdout, result.stderr)]


def compile_csharp(root, work, docs):
    """The docs' mcs command on the examples, then every C# snippet with them."""
    if shutil.which("mcs") is None:
        return ["mcs not found: scripts/install_deps.sh installs mono-mcs"]
    commands = [line for path in docs for lang, _, text in snippets(path) if lang == "sh"
                for line in text.splitlines() if line.startswith("mcs ")]
    if len(commands) != 1:
        return ["the docs give %d mcs commands, not one" % len(commands)]
    here = os.path.join(work, "csharp")
    shutil.rmtree(here, ignore_errors=True)
    os.makedirs(here)
    os.symlink(os.path.join(root, "examples"), os.path.join(here, "examples"))
    failures = mcs(["sh", "-c", commands[0]], here)
    blocks = [text for path in docs for lang, _, text in snippets(path) if lang == "csharp"]
    with open(os.path.join(here, "snippets.cs"), "w", encoding="utf-8") as f:
        f.write("using System;\nusing System.Threading;\nusing System.Threading.Tasks;\n"
                "namespace UpdateCheckExample {\n")
        for i, text in enumerate(blocks):
            f.write("class DocSnippet%d {\n%s}\n" % (i, text))
        f.write("}\n")
    return failures + mcs(["mcs", "-target:library", "-r:Microsoft.CSharp", "-warnaserror",
                           "-out:snippets.dll", "examples/csharp/UpdateChecker.cs", "snippets.cs"],
                          here)


def run_gitattributes(work, docs):
    """A file committed with core.autocrlf=true keeps its CRs after the docs' steps."""
    blocks = [text for path in docs for lang, _, text in snippets(path) if lang == "gitattributes"]
    if len(blocks) != 1:
        return ["the docs give %d .gitattributes examples, not one" % len(blocks)]
    repo = os.path.join(work, "gitattributes")
    shutil.rmtree(repo, ignore_errors=True)
    os.makedirs(repo)

    def git(*args):
        return subprocess.run(["git", "-c", "core.autocrlf=true", "-c", "user.name=t",
                               "-c", "user.email=t@t", *args], cwd=repo, check=True,
                              capture_output=True).stdout

    file_bytes = b"file=https://a/v.txt\r\nmajor=2\r\nminor=0\r\nbuild=1\r\nupdate=u\r\nh\r\n"
    git("init", "-q")
    with open(os.path.join(repo, "version.txt"), "wb") as f:
        f.write(file_bytes)
    git("add", "version.txt")
    git("commit", "-qm", "without the attribute")
    if b"\r" in git("show", "HEAD:version.txt"):
        return ["git kept the CRs even without the attribute: the example proves nothing"]
    with open(os.path.join(repo, ".gitattributes"), "w") as f:
        f.write(blocks[0])
    git("add", ".gitattributes")
    git("add", "--renormalize", "version.txt")
    git("commit", "-qm", "with the attribute")
    if git("show", "HEAD:version.txt") != file_bytes:
        return ["with the docs' .gitattributes, git still changes version.txt"]
    return []


def main(root, work):
    docs = [os.path.join(root, "README.md")] + sorted(glob.glob(os.path.join(root, "docs", "*.md")))
    units, languages = [], set()
    for path in docs:
        for language, line, text in snippets(path):
            if language in HOST_LANGUAGES:
                units.append(("%s:%d" % (os.path.relpath(path, root), line), text))
                languages.add(language)
    for path in sorted(glob.glob(os.path.join(root, "examples", "*", "*"))):
        language = EXAMPLE_LANGUAGES.get(os.path.splitext(path)[1])
        if language and "installer" not in path:
            with open(path, encoding="utf-8") as f:
                units.append((os.path.relpath(path, root), f.read()))
            languages.add(language)
    failures = broken_rules(units)
    missing = HOST_LANGUAGES - languages
    if missing:
        failures.append("no snippet or example in: " + ", ".join(sorted(missing)))
    failures += compile_csharp(root, work, docs)
    failures += run_gitattributes(work, docs)
    for failure in failures:
        print(failure)
    print("%d snippets and examples held to %d rules; %d failures" % (len(units), len(RULES), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip())
    sys.exit(main(sys.argv[1], sys.argv[2]))
