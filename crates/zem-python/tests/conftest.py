"""Packages for the module's tests, written by the test package builder."""

import json
import os
import pathlib
import subprocess

import pytest


@pytest.fixture(scope="session")
def packages(tmp_path_factory) -> pathlib.Path:
    """A directory with example.zpkg, example.record, damaged/*.zpkg and
    damaged.json (what the C++ reads say of each damaged package)."""
    directory = tmp_path_factory.mktemp("packages")
    subprocess.run([os.environ["ZEM_PYTHON_TEST_WRITER"], str(directory)], check=True)
    return directory


@pytest.fixture(scope="session")
def damaged(packages) -> list[dict]:
    return json.loads((packages / "damaged.json").read_text())


@pytest.fixture(scope="session")
def example(packages) -> bytes:
    return (packages / "example.zpkg").read_bytes()
