"""`python -m ostrel.cli`: the `ostrel` command."""

import sys

from ostrel.cli import main

if __name__ == "__main__":
    sys.exit(main())
