#!/usr/bin/env python3
"""Writes the x86-64 stubs through which a program calls shared libraries it does not link.

Usage: lazy_stubs.py --prefix P --output FILE.S --dynamic-list FILE --archive LIB.a...
                     --library LIB.so... [--nm nm] [--readelf readelf]

Every function that the static libraries (--archive) use and one of the shared libraries
(--library, as pkg-config names them) exports gets a global function of that name in FILE.S:
it jumps through its slot in P_slots. Until the libraries are loaded, a slot leads to a common
resolver, which keeps the argument registers (variadic calls included), calls the program's
`void* P_resolve(unsigned index)` (which loads every library by its SONAME and fills every
slot) and goes on to the function it returns. P_stubs describes the set for that loader
(lazy_libraries.h).

A function that the archives define in place of one of the libraries' (to change what the
libraries do) must be in the program's dynamic symbol table to take the place of the library's,
which a program linking the libraries would have done by itself: the generator lists those for
the linker's --dynamic-list.

A library's data (variables, tables) cannot be reached through a stub: the generator refuses
and names them.
"""
import argparse
import re
import subprocess
import sys

# nm's letters for a library's defined functions (T: text, W: weak, i: indirect function).
FUNCTION_TYPES = set("TWi")
# Everything else that a library defines and exports is data.
DATA_TYPES = set("BDGRSVu")
C_NAME = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*$")


class Refusal(Exception):
    """What the generator cannot build, as the message for the build's log."""


def run(command):
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode != 0:
        raise Refusal(f"{' '.join(command)} failed: {done.stderr.strip()}")
    return done.stdout


def archive_symbols(nm, archives):
    """The symbols the archives use and do not define themselves, and those they define."""
    undefined, defined = set(), set()
    for archive in archives:
        for line in run([nm, "--no-sort", archive]).splitlines():
            fields = line.split()
            if len(fields) == 2 and fields[0] == "U":
                undefined.add(fields[1])
            elif len(fields) == 3 and fields[1] != "U" and fields[1].isupper():
                defined.add(fields[2])
    return undefined - defined, defined


def soname(readelf, library):
    for line in run([readelf, "-d", library]).splitlines():
        found = re.search(r"\(SONAME\)\s+Library soname: \[(.+)\]", line)
        if found:
            return found.group(1)
    raise Refusal(f"{library} has no SONAME: it cannot be loaded by name")


def exports(nm, library):
    """Name -> nm's type letter of what the library exports (default symbol versions only)."""
    found = {}
    for line in run([nm, "-D", "--defined-only", library]).splitlines():
        fields = line.split()
        if len(fields) != 3:
            continue
        kind, name = fields[1], fields[2]
        if "@" in name:
            if "@@" not in name:
                continue  # an older version, which dlsym does not give
            name = name.split("@@")[0]
        found.setdefault(name, kind)
    return found


def plan(needs, libraries):
    """[(symbol, library index)] in name order, or Refusal naming the data symbols."""
    symbols, data = [], []
    for name in sorted(needs):
        for index, (library, exported) in enumerate(libraries):
            kind = exported.get(name)
            if kind is None:
                continue
            if kind in FUNCTION_TYPES:
                symbols.append((name, index))
            elif kind in DATA_TYPES:
                data.append(f"{name} ({library}, nm type {kind})")
            break
    if data:
        raise Refusal("these symbols of the libraries are data, not functions, and cannot be "
                      "reached through a stub: " + ", ".join(data) + ". Use a function of the "
                      "library instead, or link the libraries directly.")
    if not symbols:
        raise Refusal("the archives use no function of the libraries")
    for name, _ in symbols:
        if not C_NAME.match(name):
            raise Refusal(f"{name} is not a name the stubs can carry")
    return symbols


def replaced(defined, libraries):
    """The libraries' functions that the archives define themselves."""
    return sorted(name for name in defined
                  if any(exported.get(name) in FUNCTION_TYPES for _, exported in libraries))


def dynamic_list(prefix, names):
    # The linker wants at least one name; one that nothing defines exports nothing.
    return "{\n" + "".join(f"  {name};\n" for name in names or [f"{prefix}_none_replaced"]) + "};\n"


def assembly(prefix, sonames, symbols, sources):
    out = [f"/* Written by lazy_stubs.py from {', '.join(sources)}; do not edit. */",
           "\t.text"]
    for index, (name, _) in enumerate(symbols):
        out += ["\t.p2align 4",
                f"\t.globl {name}",
                f"\t.hidden {name}",
                f"\t.type {name}, @function",
                f"{name}:",
                "\t.cfi_startproc",
                f"\tjmp *{prefix}_slots+{8 * index}(%rip)",
                "\t.cfi_endproc",
                f"\t.size {name}, .-{name}"]
    # Each slot first leads here with its index in r11 (free at a call: no argument travels
    # in it). The frame keeps the integer argument registers, r10 and rax (the count of vector
    # registers of a variadic call) and xmm0-7; 8 + 200 bytes keep the call 16-byte aligned.
    out += ["\t.p2align 4",
            f"\t.type {prefix}_lazy, @function",
            f"{prefix}_lazy:",
            "\t.cfi_startproc"]
    for index in range(len(symbols)):
        out += [f".Llazy{index}:", f"\tmov ${index}, %r11d", "\tjmp .Lresolve"]
    registers = ["rdi", "rsi", "rdx", "rcx", "r8", "r9", "r10", "rax"]
    out += [".Lresolve:", "\tsub $200, %rsp", "\t.cfi_adjust_cfa_offset 200"]
    out += [f"\tmov %{r}, {8 * i}(%rsp)" for i, r in enumerate(registers)]
    out += [f"\tmovaps %xmm{i}, {64 + 16 * i}(%rsp)" for i in range(8)]
    out += ["\tmov %r11d, %edi", f"\tcall {prefix}_resolve@PLT", "\tmov %rax, %r11"]
    out += [f"\tmov {8 * i}(%rsp), %{r}" for i, r in enumerate(registers)]
    out += [f"\tmovaps {64 + 16 * i}(%rsp), %xmm{i}" for i in range(8)]
    out += ["\tadd $200, %rsp", "\t.cfi_adjust_cfa_offset -200", "\tjmp *%r11",
            "\t.cfi_endproc", f"\t.size {prefix}_lazy, .-{prefix}_lazy"]

    out += ["\t.data", "\t.p2align 3", f"\t.globl {prefix}_slots", f"\t.hidden {prefix}_slots",
            f"{prefix}_slots:"]
    out += [f"\t.quad .Llazy{index}" for index in range(len(symbols))]
    out += ["\t.section .rodata", ".Lnames:"]
    out += [f'\t.asciz "{name}"' for name, _ in symbols]
    out += [".Llibraries:"]
    out += [f"\t.byte {library}" for _, library in symbols]
    out += [".Lsonames:"]
    out += [f'\t.asciz "{name}"' for name in sonames]
    # The set as lazy_libraries.h's StubTable reads it.
    out += ["\t.section .data.rel.ro,\"aw\"", "\t.p2align 3", f"\t.globl {prefix}_stubs",
            f"\t.hidden {prefix}_stubs", f"\t.type {prefix}_stubs, @object",
            f"{prefix}_stubs:", f"\t.quad {prefix}_slots", "\t.quad .Lnames",
            "\t.quad .Llibraries", "\t.quad .Lsonames", f"\t.long {len(symbols)}",
            f"\t.long {len(sonames)}", f"\t.size {prefix}_stubs, .-{prefix}_stubs",
            "\t.section .note.GNU-stack,\"\",@progbits", ""]
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("--dynamic-list", required=True)
    parser.add_argument("--archive", nargs="+", required=True)
    parser.add_argument("--library", nargs="+", required=True)
    parser.add_argument("--nm", default="nm")
    parser.add_argument("--readelf", default="readelf")
    args = parser.parse_args()
    try:
        if not C_NAME.match(args.prefix):
            raise Refusal(f"{args.prefix} is not a C name")
        sonames = [soname(args.readelf, library) for library in args.library]
        libraries = [(name, exports(args.nm, library))
                     for name, library in zip(sonames, args.library)]
        if len(libraries) > 255:
            raise Refusal("more than 255 libraries")
        needs, defined = archive_symbols(args.nm, args.archive)
        symbols = plan(needs, libraries)
    except Refusal as refusal:
        sys.exit(f"lazy_stubs.py: {refusal}")
    text = assembly(args.prefix, sonames, symbols,
                    [a.rsplit("/", 1)[-1] for a in args.archive])
    with open(args.output, "w", encoding="ascii") as out:
        out.write(text)
    with open(args.dynamic_list, "w", encoding="ascii") as out:
        out.write(dynamic_list(args.prefix, replaced(defined, libraries)))


if __name__ == "__main__":
    main()
