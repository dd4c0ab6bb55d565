"""Imports the Python module from an installed prefix as the interpreter would find it there.

Run as `python3 -I -S -B`: no PYTHONPATH or other environment, no user site, no current directory, no
site directory of this machine (a copy installed elsewhere cannot answer for the one under test).
The installed package directory is then added with site.addsitedir, the call the interpreter's
start-up makes for each site directory of its prefix (.pth files included).

Arguments: the prefix the build was configured for, the prefix it was installed into, the package
directory below the prefix, whether the builder chose that directory, a sample archive."""

import os
import site
import sys

configured, installed, packages, chosen, sample = sys.argv[1:]
packages_dir = os.path.normpath(os.path.join(configured, packages))
# Where start-up looks for this interpreter's own prefixes (Debian's adds /usr/local), whether or
# not the directories exist yet.
searched = [os.path.normpath(d) for d in site.getsitepackages()]
served = [d for d in searched if os.path.commonpath([d, os.path.normpath(configured)]) == os.path.normpath(configured)]
if served and chosen in ("0", "OFF", ""):
    assert packages_dir in searched, f"{packages_dir} is not among the interpreter's site directories {searched}"

staged = os.path.realpath(os.path.join(installed, packages))
site.addsitedir(staged)
import oxtrel  # noqa: E402 - only now can it be found
import oxtrel._oxtrel  # noqa: E402

for module in (oxtrel, oxtrel._oxtrel):
    where = os.path.realpath(module.__file__)
    assert os.path.commonpath([where, staged]) == staged, f"{module.__name__} came from {where}, not {staged}"
with oxtrel.open(sample) as archive:
    assert any(entry.path == "config/settings.ini" for entry in archive), "the sample lists no config/settings.ini"
print(f"imported from {staged}; {packages_dir} is {'searched' if served else 'not a prefix this interpreter serves'}")
