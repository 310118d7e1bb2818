"""The mutants of the program's sources: derived, keyed and compiled into one build.

Everything here is deterministic: the same sources give the same mutants, in the same order, with the
same keys, so figures compare across commits. scripts/mutants.py drives the builds and the tests;
tests/test_mutants.py checks this module.

A mutant is one small change of the kind a developer gets wrong: a relational or logical operator
turned, a condition negated, a constant changed, a statement (a call, an assignment) deleted, two
statements swapped, an early return. The mutants are compiled all at once into a copy of a source
file (its schema): every changed place asks `vudizeri_mutant(ID)` whether its mutant is the one the
run selected, so one build serves every mutant. The program's own sources never carry that switch.
"""

import re

PROGRAM_DIRS = ("app", "driver", "speaker", "notify")


class ParseError(Exception):
    pass


# ---- tokens ----

class Tok:
    __slots__ = ("kind", "text", "start", "end", "line")

    def __init__(self, kind, text, start, end, line):
        self.kind, self.text, self.start, self.end, self.line = kind, text, start, end, line

    def __repr__(self):
        return "Tok(%s,%r)" % (self.kind, self.text)


PUNCT = sorted("""<<= >>= ... -> ++ -- << >> <= >= == != && || += -= *= /= %= &= |= ^= ::
{ } ( ) [ ] ; , < > + - * / % & | ^ ! ~ ? : = . #""".split(), key=len, reverse=True)
IDENT = re.compile(r"[A-Za-z_][A-Za-z_0-9]*")
NUMBER = re.compile(r"(0[xX][0-9A-Fa-f]+|[0-9]+\.?[0-9]*(?:[eE][-+]?[0-9]+)?)([uUlLfF]*)")


def tokenize(text):
    """C++ tokens, comments dropped; a preprocessor directive (with its continuation lines) is one
    token of kind 'pp'. Raises ParseError on what it cannot read."""
    toks, i, n, line = [], 0, len(text), 1
    at_line_start = True
    while i < n:
        c = text[i]
        if c == "\n":
            line += 1
            i += 1
            at_line_start = True
            continue
        if c in " \t\r\f\v":
            i += 1
            continue
        if text.startswith("//", i):
            j = text.find("\n", i)
            i = n if j < 0 else j
            continue
        if text.startswith("/*", i):
            j = text.find("*/", i + 2)
            if j < 0:
                raise ParseError("line %d: a comment that never ends" % line)
            line += text.count("\n", i, j)
            i = j + 2
            continue
        if c == "#" and at_line_start:
            j = i
            while True:
                k = text.find("\n", j)
                if k < 0:
                    k = n
                    break
                if text[k - 1] == "\\":
                    j = k + 1
                    continue
                break
            toks.append(Tok("pp", text[i:k], i, k, line))
            line += text.count("\n", i, k)
            i = k
            continue
        at_line_start = False
        if c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                if text[j] == "\\":
                    j += 1
                if j < n and text[j] == "\n":
                    raise ParseError("line %d: a quoted text that never ends" % line)
                j += 1
            if j >= n:
                raise ParseError("line %d: a quoted text that never ends" % line)
            toks.append(Tok("str" if c == '"' else "chr", text[i:j + 1], i, j + 1, line))
            i = j + 1
            continue
        m = IDENT.match(text, i)
        if m:
            toks.append(Tok("id", m.group(0), i, m.end(), line))
            i = m.end()
            continue
        m = NUMBER.match(text, i)
        if m:
            toks.append(Tok("num", m.group(0), i, m.end(), line))
            i = m.end()
            continue
        for p in PUNCT:
            if text.startswith(p, i):
                toks.append(Tok("op", p, i, i + len(p), line))
                i += len(p)
                break
        else:
            raise ParseError("line %d: a character the tool does not know: %r" % (line, c))
    return toks


# ---- structure ----

OPEN, CLOSE = {"(": ")", "[": "]", "{": "}"}, {")", "]", "}"}


def match_brackets(toks):
    """The index of the partner of every bracket; ParseError when they do not pair up."""
    partner, stack = {}, []
    for k, t in enumerate(toks):
        if t.kind != "op":
            continue
        if t.text in OPEN:
            stack.append(k)
        elif t.text in CLOSE:
            if not stack or OPEN[toks[stack[-1]].text] != t.text:
                raise ParseError("line %d: '%s' does not close what is open" % (t.line, t.text))
            j = stack.pop()
            partner[j], partner[k] = k, j
    if stack:
        raise ParseError("line %d: '%s' is never closed" % (toks[stack[-1]].line, toks[stack[-1]].text))
    return partner


class Site:
    """A place that carries mutants: an expression (kind 'expr' or 'cond' or 'switch'), a simple
    statement ('stmt'), or the start of a function body ('entry')."""

    def __init__(self, kind, lo, hi, function):
        self.kind, self.lo, self.hi, self.function = kind, lo, hi, function  # tokens [lo, hi)
        self.variants = []      # Mutant objects


class Mutant:
    def __init__(self, site, kind, edit, label):
        self.site, self.kind = site, kind
        self.edit = edit        # (lo, hi, text): tokens [lo, hi) become text; or ('swap', j) etc.
        self.label = label      # the change in short: "< => <="
        self.file = None
        self.index = 0          # 1-based, in the file
        self.id = 0             # in the whole list
        self.key = ""
        self.line = 0


EXPR_END = {";", ",", ")", "]", "}"}
KEYWORDS = {"if", "else", "while", "for", "do", "switch", "case", "default", "return", "break",
            "continue", "goto", "sizeof", "static", "const", "struct", "typedef", "unsigned", "signed"}
TYPE_WORDS = {"const", "static", "volatile", "unsigned", "signed", "struct", "enum", "register"}


def operand_end(t):
    return t.kind in ("id", "num", "str", "chr") and t.text not in KEYWORDS or \
        (t.kind == "op" and t.text in (")", "]", "++", "--"))


class Parser:
    def __init__(self, toks, named_constants):
        self.toks = toks
        self.partner = match_brackets(toks)
        self.constants = named_constants
        self.sites = []

    # Functions: a '{' at file level that follows ')' (and perhaps 'const') opens a body.
    def functions(self):
        toks, k, out = self.toks, 0, []
        while k < len(toks):
            t = toks[k]
            if t.kind == "op" and t.text == "{":
                j = k - 1
                if j >= 0 and toks[j].text == "const":
                    j -= 1
                if j >= 0 and toks[j].text == ")":
                    o = self.partner[j]
                    name_k = o - 1
                    if name_k >= 0 and toks[name_k].kind == "id":
                        start = name_k
                        while start > 0 and not (toks[start - 1].kind == "pp" or toks[start - 1].text in (";", "}", "{")):
                            start -= 1
                        ret = [x.text for x in toks[start:name_k]]
                        out.append((toks[name_k].text, ret, k, self.partner[k]))
                k = self.partner[k] + 1
                continue
            k += 1
        return out

    def parse(self):
        for name, ret, lo, hi in self.functions():
            void = "void" in ret and "*" not in ret
            entry = Site("entry", lo + 1, lo + 1, name)
            entry.variants.append(Mutant(entry, "early return", ("insert", "return;" if void else "return {};"),
                                         "return at entry"))
            self.sites.append(entry)
            self.block(lo + 1, hi, name)
        return self.sites

    def block(self, lo, hi, fn):
        """Statements in tokens [lo, hi); adjacent expression statements may swap."""
        k, prev = lo, None
        while k < hi:
            k, simple = self.statement(k, hi, fn)
            if simple is not None and prev is not None:
                a, b = prev, simple
                a.variants.append(Mutant(a, "statements swapped", ("swap", b),
                                         "swapped with the next statement"))
            prev = simple

    def paren_expr(self, open_k, fn, kind):
        close = self.partner[open_k]
        self.expression(open_k + 1, close, fn, kind)
        return close

    def statement(self, k, hi, fn):
        """Parses one statement at k; returns (next index, its Site when it is a plain expression
        statement that may be deleted or swapped, else None)."""
        toks = self.toks
        t = toks[k]
        if t.kind == "pp":
            return k + 1, None
        if t.text == "{":
            self.block(k + 1, self.partner[k], fn)
            return self.partner[k] + 1, None
        if t.text == ";":
            return k + 1, None
        if t.text in ("if", "while", "switch"):
            close = self.paren_expr(k + 1, fn, "switch" if t.text == "switch" else "cond")
            k, _ = self.statement(close + 1, hi, fn)
            if t.text == "if" and k < hi and toks[k].text == "else":
                k, _ = self.statement(k + 1, hi, fn)
            return k, None
        if t.text == "do":
            k, _ = self.statement(k + 1, hi, fn)
            if toks[k].text != "while":
                raise ParseError("line %d: 'do' without 'while'" % toks[k].line)
            close = self.paren_expr(k + 1, fn, "cond")
            return close + 2, None
        if t.text == "for":
            open_k = k + 1
            close = self.partner[open_k]
            semis = [j for j in range(open_k + 1, close) if toks[j].text == ";" and self.depth_ok(open_k + 1, j)]
            if len(semis) != 2:
                raise ParseError("line %d: a 'for' the tool cannot read" % t.line)
            self.simple(open_k + 1, semis[0], fn, in_for=True)
            if semis[1] > semis[0] + 1:
                self.expression(semis[0] + 1, semis[1], fn, "cond")
            if close > semis[1] + 1:
                self.expression(semis[1] + 1, close, fn, "expr")
            return self.statement(close + 1, hi, fn)[0], None
        if t.text in ("case", "default"):
            j = k
            while toks[j].text != ":":
                j += 1
            return j + 1, None
        if t.text in ("break", "continue"):
            return k + 2, None
        if t.text == "return":
            end = self.end_of(k + 1, hi)
            if end > k + 1:
                self.expression(k + 1, end, fn, "expr")
            return end + 1, None
        end = self.end_of(k, hi)
        site = self.simple(k, end, fn)
        return end + 1, site

    def depth_ok(self, lo, j):
        depth = 0
        for x in range(lo, j):
            if self.toks[x].text in OPEN:
                depth += 1
            elif self.toks[x].text in CLOSE:
                depth -= 1
        return depth == 0

    def end_of(self, k, hi):
        """The ';' that ends the statement starting at k."""
        while k < hi:
            t = self.toks[k]
            if t.text in OPEN:
                k = self.partner[k] + 1
                continue
            if t.text == ";":
                return k
            k += 1
        raise ParseError("line %d: a statement without ';'" % self.toks[min(k, len(self.toks) - 1)].line)

    def is_declaration(self, lo, end):
        """Tokens [lo, end) declare something: a type, then a name (with '*'s, perhaps '[...]')."""
        toks = self.toks
        eq = end
        for j in range(lo, end):
            if toks[j].text == "=" :
                eq = j
                break
            if toks[j].text in OPEN:
                if toks[j].text != "[":
                    return False, eq
                break
        names = 0
        for j in range(lo, eq):
            x = toks[j]
            if x.text == "[":
                break
            if x.kind == "id" and x.text not in TYPE_WORDS:
                names += 1
            elif x.kind == "id" or x.text in ("*", "&", "::"):
                continue
            else:
                return False, eq
        return names >= 2, eq

    def simple(self, lo, end, fn, in_for=False):
        """A declaration or an expression statement in tokens [lo, end) (the ';' at end)."""
        if lo >= end:
            return None
        decl, eq = self.is_declaration(lo, end)
        if decl:
            if eq < end and self.toks[eq + 1].text != "{":
                self.expression(eq + 1, end, fn, "expr")
            return None
        self.expression(lo, end, fn, "expr")
        if in_for:
            return None
        stmt = Site("stmt", lo, end + 1, fn)
        stmt.variants.append(Mutant(stmt, "statement deleted", ("delete",), "deleted"))
        self.sites.append(stmt)
        return stmt

    def expression(self, lo, hi, fn, kind):
        site = Site(kind, lo, hi, fn)
        toks = self.toks
        if kind == "cond":
            site.variants.append(Mutant(site, "condition negated", ("negate",), "negated"))
        swaps = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "==", "&&": "||",
                 "||": "&&", "++": "--", "--": "++", "+=": "-=", "-=": "+=", "|=": "=", "&=": "="}
        kinds = {"<": "relational", "<=": "relational", ">": "relational", ">=": "relational",
                 "==": "relational", "!=": "relational", "&&": "logical", "||": "logical",
                 "++": "arithmetic", "--": "arithmetic", "+=": "arithmetic", "-=": "arithmetic",
                 "|=": "bitwise", "&=": "bitwise", "+": "arithmetic", "-": "arithmetic",
                 "|": "bitwise", "&": "bitwise"}
        for j in range(lo, hi):
            t = toks[j]
            if t.kind == "op":
                if t.text in swaps:
                    site.variants.append(Mutant(site, kinds[t.text] + " operator", (j, j + 1, swaps[t.text]),
                                                "%s => %s" % (t.text, swaps[t.text])))
                elif t.text in ("+", "-", "|", "&") and j > lo and self.binary(j):
                    other = {"+": "-", "-": "+", "|": "&", "&": "|"}[t.text]
                    site.variants.append(Mutant(site, kinds[t.text] + " operator", (j, j + 1, other),
                                                "%s => %s" % (t.text, other)))
                elif t.text == "!" and not (kind == "cond" and j == lo):
                    # A condition that starts with '!' is already negated as a whole.
                    site.variants.append(Mutant(site, "condition negated", (j, j + 1, ""), "! removed"))
            elif t.kind == "num":
                value = self.number(t.text)
                if value is None:
                    continue
                new = 1 if value == 0 else 0 if value == 1 else value + 1
                text = ("0x%X" % new) if t.text.lower().startswith("0x") else str(new)
                site.variants.append(Mutant(site, "constant changed", (j, j + 1, text), "%s => %s" % (t.text, text)))
            elif t.kind == "id":
                if t.text in ("TRUE", "FALSE"):
                    other = "FALSE" if t.text == "TRUE" else "TRUE"
                    site.variants.append(Mutant(site, "constant changed", (j, j + 1, other), "%s => %s" % (t.text, other)))
                elif t.text in self.constants and not (j + 1 < hi and toks[j + 1].text == "("):
                    text = "(%s + 1)" % t.text
                    site.variants.append(Mutant(site, "constant changed", (j, j + 1, text), "%s => %s" % (t.text, text)))
        if site.variants:
            self.sites.append(site)
        return site

    def is_cast(self, open_k):
        """The parenthesis at open_k holds a type: '(DWORD)', '(LPSTR)', '(SpkLockMem *)'."""
        toks = self.toks
        close = self.partner[open_k]
        inner = toks[open_k + 1:close]
        if not inner or inner[0].kind != "id":
            return False
        if any(x.kind not in ("id",) and x.text not in ("*", "(", ")", "void") for x in inner):
            return False
        # A single name in parentheses is a cast when it is spelled as a type: all capitals or a
        # pointer; a call's result or a variable is not.
        words = [x.text for x in inner if x.kind == "id"]
        return "*" in [x.text for x in inner] or (len(words) == 1 and (words[0].isupper() or words[0][0].isupper()))

    def binary(self, j):
        """The operator at j stands between two operands (not a sign, an address or a cast's)."""
        prev = self.toks[j - 1]
        if not operand_end(prev):
            return False
        return not (prev.text == ")" and self.is_cast(self.partner[j - 1]))

    @staticmethod
    def number(text):
        m = re.fullmatch(r"(0[xX][0-9A-Fa-f]+|[0-9]+)[uUlL]*", text)
        if not m:
            return None
        return int(m.group(1), 0) if not re.fullmatch(r"0[0-9]+", m.group(1)) else int(m.group(1), 8)


def named_constants(texts):
    """Names the program's own headers and sources define as plain numbers."""
    out = set()
    for text in texts:
        for m in re.finditer(r"^[ \t]*#[ \t]*define[ \t]+([A-Z][A-Z0-9_]*)[ \t]+\(?(0[xX][0-9A-Fa-f]+|[0-9]+)[uUlL]*\)?[ \t]*(?://.*)?$",
                             text, re.M):
            out.add(m.group(1))
    return out


# ---- mutants of a file ----

def norm(s):
    return " ".join(s.split())


def derive(path, text, constants):
    """The mutants of one source file, in order. Raises ParseError."""
    toks = tokenize(text)
    parser = Parser(toks, constants)
    sites = parser.parse()
    mutants = []
    for site in sites:
        for m in site.variants:
            m.file = path
            mutants.append(m)
    # Order by position in the file, then by the site's kind, then as derived: deterministic.
    def where(m):
        s = m.site
        pos = s.lo if not (isinstance(m.edit[0], int)) else m.edit[0]
        return (pos, {"entry": 0, "stmt": 1, "cond": 2, "switch": 2, "expr": 2}[s.kind], s.lo)
    mutants.sort(key=where)
    seen = {}
    for i, m in enumerate(mutants, 1):
        m.index = i
        m.line = toks[min(m.site.lo, len(toks) - 1)].line if not isinstance(m.edit[0], int) else toks[m.edit[0]].line
        base = "%s:%s: %s" % (path, m.site.function, context(toks, text, m).strip())
        seen[base] = seen.get(base, 0) + 1
        m.key = base if seen[base] == 1 else "%s #%d" % (base, seen[base])
    return toks, mutants


def span_text(text, toks, lo, hi):
    if lo >= hi:
        return ""
    return text[toks[lo].start:toks[hi - 1].end]


def context(toks, text, m):
    """The mutant in words: the statement or expression it changes, the change in brackets."""
    s = m.site
    e = m.edit
    if isinstance(e[0], int):
        lo, hi, new = e
        before = norm(span_text(text, toks, s.lo, lo))
        after = norm(span_text(text, toks, hi, s.hi))
        return "%s [%s => %s] %s" % (before, norm(span_text(text, toks, lo, hi)), new, after)
    if e[0] == "negate":
        return "[%s => !(...)]" % norm(span_text(text, toks, s.lo, s.hi))
    if e[0] == "delete":
        return "[%s => deleted]" % norm(span_text(text, toks, s.lo, s.hi))
    if e[0] == "swap":
        return "[%s <=> %s]" % (norm(span_text(text, toks, s.lo, s.hi)), norm(span_text(text, toks, e[1].lo, e[1].hi)))
    if e[0] == "insert":
        return "[%s at entry]" % e[1]
    raise ValueError(e)


# ---- one mutant as plain source ----

def apply_one(text, toks, m):
    """The file's text with only this mutant in it."""
    s, e = m.site, m.edit
    def rep(lo_off, hi_off, new):
        return text[:lo_off] + new + text[hi_off:]
    if isinstance(e[0], int):
        lo, hi, new = e
        return rep(toks[lo].start, toks[hi - 1].end, new)
    if e[0] == "negate":
        return rep(toks[s.lo].start, toks[s.hi - 1].end, "!(%s)" % span_text(text, toks, s.lo, s.hi))
    if e[0] == "delete":
        return rep(toks[s.lo].start, toks[s.hi - 1].end, ";")
    if e[0] == "swap":
        b = e[1]
        return (text[:toks[s.lo].start] + span_text(text, toks, b.lo, b.hi) + text[toks[s.hi - 1].end:toks[b.lo].start]
                + span_text(text, toks, s.lo, s.hi) + text[toks[b.hi - 1].end:])
    if e[0] == "insert":
        at = toks[s.lo - 1].end
        return text[:at] + " " + e[1] + text[at:]
    raise ValueError(e)


# ---- the schema: every mutant of a file in one copy, selected at run time ----

SCHEMA_HEAD = 'extern "C" int vudizeri_mutant(int id);\n'

RUNTIME = r'''// The mutant switch of the mutation build (written by scripts/mutants.py; never part of the program).
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

namespace {
std::atomic<unsigned char> g_reached[%(count)d + 1];
int Selected()
{
    static const int selected = getenv("VUDIZERI_MUTANT") ? atoi(getenv("VUDIZERI_MUTANT")) : 0;
    return selected;
}
const char *Probe()
{
    static const char *probe = getenv("VUDIZERI_MUTANT_PROBE");
    return probe;
}
}  // namespace

// True when the run selected mutant id. With VUDIZERI_MUTANT_PROBE set, the first time each place is
// reached its id is appended to that file (forked children and _exit included).
extern "C" int vudizeri_mutant(int id)
{
    const char *probe = Probe();
    if (probe && id > 0 && id <= %(count)d && !g_reached[id].exchange(1)) {
        int fd = open(probe, O_WRONLY | O_APPEND | O_CREAT, 0644);
        if (fd >= 0) {
            char line[16];
            int n = 0;
            char digits[12];
            int d = 0;
            for (int v = id; v > 0; v /= 10)
                digits[d++] = (char)('0' + v %% 10);
            while (d > 0)
                line[n++] = digits[--d];
            line[n++] = '\n';
            ssize_t written = write(fd, line, (size_t)n);
            (void)written;
            close(fd);
        }
    }
    return Selected() == id;
}
'''


class Schema:
    """Builds the schema text of one file. `skip` holds mutant ids left out (they do not compile
    inside the schema); `lines` maps each output line to the mutant ids written on it."""

    def __init__(self, text, toks, mutants, skip=frozenset()):
        self.text, self.toks = text, toks
        self.mutants = [m for m in mutants if m.id not in skip]
        self.by_site = {}
        for m in self.mutants:
            self.by_site.setdefault(id(m.site), []).append(m)
        self.sites = {}
        for m in mutants:
            self.sites[id(m.site)] = m.site
        self.entries_done = set()

    def emit(self):
        # Edits: expression sites replace their token range; statement sites wrap theirs; entry
        # sites insert after the '{'. Statement sites contain their expression site.
        toks = self.toks
        starts = {}
        for s in self.sites.values():
            if s.kind == "entry":
                starts.setdefault(("entry", s.lo), s)
            elif s.kind == "stmt":
                starts[("stmt", s.lo)] = s
            else:
                starts[("expr", s.lo, s.hi)] = s
        self.expr_at = {}
        for key, s in starts.items():
            if key[0] == "expr":
                self.expr_at.setdefault(s.lo, []).append(s)
        self.stmt_at = {s.lo: s for k, s in starts.items() if k[0] == "stmt"}
        self.entry_at = {s.lo: s for k, s in starts.items() if k[0] == "entry"}
        # Which statements a swap with the one before them has moved away.
        self.swapped_in = {}
        for m in self.mutants:
            if m.edit[0] == "swap":
                self.swapped_in.setdefault(id(m.edit[1]), []).append(m)
        body = self.render(0, len(toks))
        return SCHEMA_HEAD + body

    def plain(self, lo, hi):
        return span_text(self.text, self.toks, lo, hi)

    def gap(self, k):
        """The text between token k-1 and token k (whitespace, comments)."""
        if k == 0:
            return self.text[:self.toks[0].start] if self.toks else ""
        return self.text[self.toks[k - 1].end:self.toks[k].start]

    def render(self, lo, hi, skip_stmt=None, skip_expr=None):
        """Tokens [lo, hi) with the schema of every site inside."""
        out, k = [], lo
        while k < hi:
            if k > lo:
                out.append(self.gap(k))
            if k in self.entry_at and k not in self.entries_done:
                self.entries_done.add(k)
                site = self.entry_at[k]
                ms = self.by_site.get(id(site), [])
                for m in ms:
                    out.append("\nif (vudizeri_mutant(%d)) %s\n" % (m.id, m.edit[1]))
            s = self.stmt_at.get(k)
            if s is not None and s is not skip_stmt and s.hi <= hi:
                out.append(self.statement(s))
                k = s.hi
                continue
            exprs = [e for e in self.expr_at.get(k, []) if e is not skip_expr and e.hi <= hi]
            if exprs:
                e = max(exprs, key=lambda x: x.hi)
                out.append(self.expression(e))
                k = e.hi
                continue
            out.append(self.toks[k].text)
            k += 1
        return "".join(out)

    def expression(self, s):
        ms = self.by_site.get(id(s), [])
        inner = self.render(s.lo, s.hi, skip_expr=s)
        if not ms:
            return inner
        wrap = (lambda x: "bool(%s)" % x) if s.kind == "cond" else (lambda x: "(%s)" % x)
        parts = ["("]
        for m in ms:
            parts.append("\nvudizeri_mutant(%d) ? %s :" % (m.id, wrap(self.variant_expr(s, m))))
        parts.append("\n%s)" % wrap(inner))
        return "".join(parts)

    def variant_expr(self, s, m):
        e = m.edit
        if e[0] == "negate":
            return "!(%s)" % self.plain(s.lo, s.hi)
        lo, hi, new = e
        return self.plain(s.lo, lo) + (" " if lo > s.lo else "") + new + " " + self.plain(hi, s.hi)

    def statement(self, s):
        ms = self.by_site.get(id(s), [])
        moved = self.swapped_in.get(id(s), [])
        inner = self.render(s.lo, s.hi, skip_stmt=s)
        if not ms and not moved:
            return inner
        parts = ["{ "]
        for m in ms:
            if m.edit[0] == "delete":
                parts.append("\nif (vudizeri_mutant(%d)) {} else" % m.id)
            elif m.edit[0] == "swap":
                b = m.edit[1]
                parts.append("\nif (vudizeri_mutant(%d)) { %s %s } else" % (m.id, self.plain(b.lo, b.hi), self.plain(s.lo, s.hi)))
        for m in moved:
            parts.append("\nif (vudizeri_mutant(%d)) {} else" % m.id)
        parts.append("\n{ %s } }" % inner)
        return "".join(parts)


def line_map(schema_text):
    """Output line number to the mutant ids named on it."""
    out = {}
    for n, line in enumerate(schema_text.split("\n"), 1):
        ids = [int(x) for x in re.findall(r"vudizeri_mutant\((\d+)\)", line)]
        if ids:
            out[n] = ids
    return out
