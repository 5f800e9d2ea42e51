import os
import pathlib
import subprocess

import pytest

SOURCE = pathlib.Path(os.environ.get("MCREG_SOURCE", pathlib.Path(__file__).resolve().parents[2]))
EXAMPLES = SOURCE / "examples"


@pytest.fixture(scope="session")
def program():
    path = os.environ.get("MCREG_PROGRAM", str(SOURCE / "build" / "cli" / "mcreg"))
    if not os.path.exists(path):
        pytest.skip("the mcreg program is not built")
    return path


def run_program(program, *args):
    """The program's standard output, standard error and exit code."""
    p = subprocess.run([program, *args], capture_output=True, text=True)
    return p.stdout, p.stderr, p.returncode
