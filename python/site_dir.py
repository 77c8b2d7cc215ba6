"""Prints the folder where this interpreter looks for packages under PREFIX.

    python3 site_dir.py PREFIX

The interpreter's own scheme decides: a site folder it searches that lies in
PREFIX's lib/ (Debian: /usr gives /usr/lib/python3/dist-packages, /usr/local
gives /usr/local/lib/python3.X/dist-packages; ~/.local gives the user site),
else its platlib for PREFIX, which it searches once PYTHONPATH names it.
"""

import os
import site
import sys
import sysconfig


def site_dir(prefix):
    prefix = os.path.realpath(prefix)
    lib = os.path.join(prefix, "lib") + os.sep
    searched = list(site.getsitepackages()) if hasattr(site, "getsitepackages") else []
    if site.ENABLE_USER_SITE is not False:
        searched.append(site.getusersitepackages())
    searched += [entry for entry in sys.path if entry.endswith(("site-packages", "dist-packages"))]
    for folder in searched:
        if os.path.realpath(folder).startswith(lib):
            return folder
    return sysconfig.get_path("platlib", "posix_prefix", vars={"base": prefix, "platbase": prefix})


if __name__ == "__main__":
    print(site_dir(sys.argv[1]))
