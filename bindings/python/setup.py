"""Build step of the leafsift binding: the metadata lives in pyproject.toml; this only places
the shared library next to the package when LEAFSIFT_LIBRARY names it, so an installed copy
does not depend on the loader's search path."""
import os
import shutil

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py

LIBRARY_NAME = "libleafsift.so"


class build_py_with_library(build_py):
    def run(self):
        super().run()
        target_dir = os.path.join(self.build_lib, "leafsift")
        # A build folder left by an earlier install may still hold a copy; a build without
        # LEAFSIFT_LIBRARY must not ship that stale library.
        for name in os.listdir(target_dir):
            if name.startswith(LIBRARY_NAME):
                os.remove(os.path.join(target_dir, name))
        source = os.environ.get("LEAFSIFT_LIBRARY")
        if not source:
            return
        # The build tree's libleafsift.so is a symlink chain to the versioned file; the wheel
        # must carry the file itself.
        real = os.path.realpath(source)
        if not os.path.isfile(real):
            raise SystemExit(f"LEAFSIFT_LIBRARY={source}: no such file")
        shutil.copyfile(real, os.path.join(target_dir, LIBRARY_NAME))

    def get_outputs(self, include_bytecode=1):
        outputs = super().get_outputs(include_bytecode)
        if os.environ.get("LEAFSIFT_LIBRARY"):
            outputs.append(os.path.join(self.build_lib, "leafsift", LIBRARY_NAME))
        return outputs


class LibraryDistribution(Distribution):
    # A wheel that carries a compiled library is tied to its platform, not "any".
    def has_ext_modules(self):
        return bool(os.environ.get("LEAFSIFT_LIBRARY"))


setup(cmdclass={"build_py": build_py_with_library}, distclass=LibraryDistribution)
