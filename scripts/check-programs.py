#!/usr/bin/env python3
"""Lists every external program that the tests, benchmarks and scripts start
and checks that each comes from a Debian package that scripts/install-deps.sh
installs (directly or as a dependency) or that every Debian system has
(essential or required). Exit status 1 names the programs that a fresh
machine would miss.

Programs are found in shell scripts (words in command position), in Python
(the first element of the argument lists given to run/call/Popen/Proc, or of
lists assigned to cmd) and in the browser driver (executablePath).

  check-programs.py          check, print one line per program
  check-programs.py --list   only list the programs and where they are used
"""

import ast
import glob
import os
import re
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SHELL_FILES = ["scripts/*.sh", "bench/*.sh", "cmake/*.sh", "tests/**/*.sh"]
PYTHON_FILES = ["scripts/*.py", "bench/*.py", "tests/**/*.py"]
JS_FILES = ["tests/e2e/*.js"]

SHELL_WORDS = set("""
    if then else elif fi for in do done while until case esac function select
    time ! [[ ]] { } [ test true false : . source echo printf cd pwd export set
    unset trap local read return exit shift wait kill eval declare readonly let
    type hash ulimit umask getopts continue break pushd popd mapfile shopt
    alias builtin exec
""".split())
# Words that run the command after them (their options skipped).
WRAPPERS = {"exec", "env", "nohup", "nice", "timeout", "xvfb-run", "sudo"}
# Options of those wrappers that take the next word as their value.
WRAPPER_OPTS_WITH_VALUE = {"-u", "-s", "-n", "-e", "-f", "-p", "-w", "-k", "-l"}
SYSTEM_DIRS = ["/usr/bin", "/bin", "/usr/sbin", "/sbin", "/usr/games"]
# install-deps.sh lets a node and npm the machine already has serve.
MACHINE_OWN_OK = {"node", "npm", "npx"}


# ---------------------------------------------------------------------------
# Finding the programs


def _skip_quoted(text, i, quote):
    """Index just after the closing quote of a string starting at text[i]."""
    i += 1
    while i < len(text) and text[i] != quote:
        if quote == '"' and text[i] == "\\":
            i += 2
        elif quote == '"' and text.startswith("$(", i):
            i = _matching_paren(text, i + 1) + 1
        else:
            i += 1
    return i + 1


def _matching_paren(text, i):
    """Index of the ")" that closes the "(" at text[i]."""
    depth = 0
    while i < len(text):
        c = text[i]
        if c in "'\"":
            i = _skip_quoted(text, i, c)
            continue
        if c == "(":
            depth += 1
        elif c == ")":
            depth -= 1
            if depth == 0:
                return i
        i += 1
    return len(text)


def _redirection(text, i):
    """True when the "&" at text[i] belongs to a redirection (2>&1, &>)."""
    return text[i] == "&" and ((i > 0 and text[i - 1] in "<>") or text.startswith("&>", i))


def _drop_heredocs(text):
    out, end = [], None
    for line in text.split("\n"):
        if end is not None:
            if line.strip() == end:
                end = None
            continue
        out.append(line)
        m = re.search(r"<<-?\s*['\"]?(\w+)['\"]?", line)
        if m:
            end = m.group(1)
    return "\n".join(out)


def shell_programs(text):
    """Names in command position of a shell script, without its functions."""
    text = _drop_heredocs(text)
    functions = set(re.findall(r"^\s*(?:function\s+)?([\w-]+)\s*\(\)", text, re.M))
    found = []
    _shell_scan(text, found)
    return [p for p in found if p not in functions]


def _skip_case_pattern(text, i):
    """Index after the ")" that ends a case pattern starting at or after
    text[i]; i itself when "esac" comes first."""
    while i < len(text) and text[i] in " \t\n":
        i += 1
    if re.match(r"esac\b", text[i:i + 5]):
        return i
    while i < len(text) and text[i] != ")":
        i = _skip_quoted(text, i, text[i]) if text[i] in "'\"" else i + 1
    return i + 1


def _shell_scan(text, found):
    command, wrapped, case_head, skip_value = True, False, False, False
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if c == "\\":
            i += 2  # an escaped character, or a line continued
            continue
        if c in " \t":
            i += 1
            continue
        if text.startswith("$((", i):
            i = _matching_paren(text, i + 1) + 1  # arithmetic
            continue
        if c == "#":
            while i < n and text[i] != "\n":
                i += 1
            continue
        if text.startswith(";;", i):
            i = _skip_case_pattern(text, i + 2)
            command, wrapped = True, False
            continue
        if c in "\n;|&(){}" and not _redirection(text, i):
            if c == "(" and i > 0 and text[i - 1] == "$":
                close = _matching_paren(text, i)
                _shell_scan(text[i + 1:close], found)
                i = close + 1
                continue
            # After a closing ")" or "}" only redirections and operators
            # follow, never a command.
            command, wrapped, skip_value = c not in ")}", False, False
            i += 1
            continue
        # One word, with its quoted parts; command substitutions inside it
        # are scanned on their own.
        start = i
        while i < n and (text[i] not in " \t\n;|&(){}" or _redirection(text, i)):
            if text[i] == "\\":
                i += 2
            elif text.startswith("$((", i):
                i = _matching_paren(text, i + 1) + 1
            elif text[i] in "'\"":
                end = _skip_quoted(text, i, text[i])
                if text[i] == '"':
                    for m in re.finditer(r"\$\(", text[i:end]):
                        at = i + m.start() + 1
                        _shell_scan(text[at + 1:_matching_paren(text, at)], found)
                i = end
            elif text[i] == "$" and i + 1 < n and text[i + 1] == "(":
                close = _matching_paren(text, i + 1)
                _shell_scan(text[i + 2:close], found)
                i = close + 1
            else:
                i += 1
        word = text[start:i]
        if word.endswith("=") and text.startswith("(", i):
            i = _matching_paren(text, i) + 1  # an array assignment
            continue
        if not command:
            if case_head and word == "in":
                case_head = False
                i = _skip_case_pattern(text, i)
                command = True
            continue
        if word == "case":
            command, case_head = False, True
        elif word == "esac":
            pass
        elif re.match(r"^[A-Za-z_]\w*(\[[^]]*\])?\+?=", word):
            pass  # an assignment; the command, if any, follows
        elif word == "exec":
            wrapped = True
        elif word in SHELL_WORDS:
            command = word in ("if", "then", "else", "elif", "do", "while", "until", "!",
                               "time", "{")
        elif skip_value:
            skip_value = False  # the value of a wrapper's option
        elif wrapped and (word.startswith("-") or re.match(r"^\d+[smh]?$", word)):
            skip_value = word in WRAPPER_OPTS_WITH_VALUE  # an option of a wrapper
        elif word == "command":
            pass  # "command -v NAME": NAME is checked as a program
        elif word == "-v":
            pass
        else:
            name = word.strip("'\"")
            if "$" not in name and "`" not in name and (
                    "/" not in name or name.startswith(("/usr/", "/bin/", "/sbin/"))):
                found.append(name)
            command = name in WRAPPERS
            wrapped = command


CALLS = {"run", "call", "check_call", "check_output", "Popen", "Proc"}


def _first_string_of_list(node):
    while isinstance(node, ast.BinOp) and isinstance(node.op, ast.Add):
        node = node.left
    if isinstance(node, ast.List) and node.elts:
        first = node.elts[0]
        if isinstance(first, ast.Constant) and isinstance(first.value, str):
            return first.value
    return None


def python_programs(text):
    """First elements of the command lists a Python file starts."""
    found = []
    for node in ast.walk(ast.parse(text)):
        lists = []
        if isinstance(node, ast.Call) and node.args:
            f = node.func
            name = f.attr if isinstance(f, ast.Attribute) else getattr(f, "id", "")
            if name in CALLS:
                lists.append(node.args[0])
        if isinstance(node, ast.Assign) and any(
                isinstance(t, ast.Name) and t.id == "cmd" for t in node.targets):
            lists.append(node.value)
        for value in lists:
            name = _first_string_of_list(value)
            if name:
                found.append(name)
    return found


def js_programs(text):
    return re.findall(r"executablePath:\s*['\"]([^'\"]+)['\"]", text)


def programs():
    """{program: [files that start it]}."""
    uses = {}
    kinds = [(SHELL_FILES, shell_programs), (PYTHON_FILES, python_programs),
             (JS_FILES, js_programs)]
    for patterns, finder in kinds:
        for pattern in patterns:
            for path in sorted(glob.glob(os.path.join(ROOT, pattern), recursive=True)):
                if "/node_modules/" in path:
                    continue
                with open(path, encoding="utf-8") as f:
                    names = finder(f.read())
                for name in names:
                    uses.setdefault(name, []).append(os.path.relpath(path, ROOT))
    return uses


# ---------------------------------------------------------------------------
# Packages


def installed_packages():
    """{package: (depends, provides, base)} of the installed packages; base:
    essential or of priority required, so on every Debian system."""
    fmt = "${db:Status-Abbrev}\t${Package}\t${Depends}, ${Pre-Depends}\t${Provides}\t" \
          "${Essential}\t${Priority}\n"
    out = subprocess.run(["dpkg-query", "-W", "-f", fmt], capture_output=True, text=True,
                         stdin=subprocess.DEVNULL).stdout
    pkgs = {}
    for line in out.splitlines():
        f = line.split("\t")
        if len(f) == 6 and f[0].startswith("ii"):
            pkgs[f[1]] = (_names(f[2]), _names(f[3]), f[4] == "yes" or f[5] == "required")
    return pkgs


def _names(field):
    """Package names in a Depends-like field (versions, alternatives and
    architecture qualifiers dropped; every alternative kept)."""
    return [alt.strip().split(" ")[0].split(":")[0]
            for group in field.split(",") for alt in group.split("|") if alt.strip()]


def installed_closure(roots, pkgs):
    """The installed packages that roots bring in through Depends and
    Pre-Depends (virtual packages resolved through Provides)."""
    providers = {}
    for pkg, (_, provides, _) in pkgs.items():
        for name in provides:
            providers.setdefault(name, set()).add(pkg)
    seen, todo = set(), list(roots)
    while todo:
        pkg = todo.pop()
        if pkg in seen or pkg not in pkgs:
            continue
        seen.add(pkg)
        for name in pkgs[pkg][0]:
            todo.append(name)
            todo.extend(providers.get(name, ()))
    return seen


def owners(paths):
    """{path: package} for the paths (after symbolic links) that a package ships."""
    candidates = {}
    for path in paths:
        real = os.path.realpath(path)
        for p in (real, path, re.sub(r"^/usr(/s?bin/)", r"\1", real),
                  re.sub(r"^/(s?bin/)", r"/usr/\1", real)):
            candidates.setdefault(p, set()).add(path)
    r = subprocess.run(["dpkg", "-S"] + sorted(candidates), capture_output=True, text=True,
                       stdin=subprocess.DEVNULL)
    found = {}
    for line in r.stdout.splitlines():
        if line.startswith("diversion by") or ": " not in line:
            continue
        pkg, _, p = line.partition(": ")
        for original in candidates.get(p, ()):
            found.setdefault(original, pkg.split(",")[0].split(":")[0])
    return found


def locate_all(names):
    """{name: (package, path)}; package None when no package ships it, path
    None when the program is nowhere."""
    where = {n: [n] if n.startswith("/") else [os.path.join(d, n) for d in SYSTEM_DIRS]
             for n in names}
    owned = owners([p for paths in where.values() for p in paths if os.path.lexists(p)])
    out = {}
    for n, paths in where.items():
        hit = next((p for p in paths if p in owned), None)
        if hit:
            out[n] = (owned[hit], hit)
        else:
            out[n] = (None, None if n.startswith("/") else shutil.which(n))
    return out


def main():
    uses = programs()
    if "--list" in sys.argv[1:]:
        for name in sorted(uses):
            print("%-32s %s" % (name, " ".join(sorted(set(uses[name])))))
        return 0
    listed = subprocess.run([os.path.join(ROOT, "scripts", "install-deps.sh"), "--list"],
                            capture_output=True, text=True, check=True).stdout.split()
    pkgs = installed_packages()
    ours = installed_closure(listed, pkgs)
    bad = []
    for name, (pkg, path) in sorted(locate_all(uses).items()):
        where = " ".join(sorted(set(uses[name])))
        if pkg and (pkg in ours or pkgs.get(pkg, (0, 0, False))[2]):
            print("ok       %-30s %s (%s)" % (name, pkg, "install-deps" if pkg in ours else "base"))
        elif pkg:
            bad.append("%s: package %s, which install-deps.sh does not install (used in %s)"
                       % (name, pkg, where))
        elif path and name in MACHINE_OWN_OK:
            print("ok       %-30s %s (the machine's own)" % (name, path))
        elif path:
            bad.append("%s: %s belongs to no Debian package (used in %s)" % (name, path, where))
        else:
            bad.append("%s: not installed (used in %s)" % (name, where))
    for line in bad:
        print("MISSING  " + line)
    print("%d programs, %d missing" % (len(uses), len(bad)))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
