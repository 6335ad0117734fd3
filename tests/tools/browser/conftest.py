"""The browser the page tests share: one headless Chromium per test module."""
import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import Browser  # noqa: E402


@pytest.fixture(scope="module")
def browser():
    chromium = Browser()
    yield chromium
    chromium.close()
