"""Random calls of every function of ostrel.api.service_pb2_grpc.

Each call picks one of the module's functions (the stub's __init__, also
through the class, the servicer's methods, bound and unbound, the
registration function and the one-shot calls, on the class and on an
instance), random positional arguments and random keywords: parameter names,
unknown names, names already given by position, keys that are no strings, and
str subclasses whose __eq__ or __hash__ empties, fills or shrinks the
dictionary that holds them, collects garbage, raises, or equals every name.
The values are fakes of channels, servicers, servers and contexts that answer,
raise or call the module again from inside a call, and values that call the
module again when they are freed. grpc itself is a fake for the whole run.

A call must return or raise what its inputs explain, and when its keys hold
still, it must raise the module's argument TypeError exactly when
inspect.signature refuses to bind the same arguments. The run fails (exit 1)
on the first call that breaks this; memory faults are the sanitizer build's
to catch (docs/architecture.md).

    python tools/fuzz_service.py --calls 200000 --seed 1
"""

from __future__ import annotations

import argparse
import ctypes
import gc
import inspect
import random
import re
import sys
import time
from collections import Counter
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple

from ostrel.api import ostrel_service_pb2, service_pb2
from ostrel.api import service_pb2_grpc as svc

METHODS = tuple(m.name for m in ostrel_service_pb2.DESCRIPTOR.services_by_name["Ostrel"].methods)
PARAMETERS = ("self", "channel", "request", "context", "servicer", "server", "target",
              "options", "channel_credentials", "call_credentials", "insecure",
              "compression", "wait_for_ready", "timeout", "metadata")
UNKNOWN = ("chanel", "retries", "", "self_", "x" * 40)
# The module's argument errors; a bound method or a class refuses keys that
# are no strings itself, before the module's function is reached.
ARGUMENT_ERROR = re.compile(
    r"^\w+\(\) (takes (exactly|at least|at most) \d+ positional arguments? \(\d+ given\)"
    r"|got multiple values for keyword argument '.*'"
    r"|got an unexpected keyword argument '.*'|keywords must be strings)$"
    r"|^keywords must be strings$", re.S)
MAX_DEPTH = 3

# A C caller's PyObject_Call: the function reads the very dictionary that the
# keys act on (a call from Python passes a copy).
_call = ctypes.pythonapi.PyObject_Call
_call.restype = ctypes.py_object
_call.argtypes = (ctypes.py_object, ctypes.py_object, ctypes.py_object)


class Fault(Exception):
    """Raised on purpose by a fake."""


class KeyFault(Exception):
    """Raised on purpose by a key's comparison."""


class Fuzzer:
    def __init__(self, seed: int) -> None:
        self.rng = random.Random(seed)
        self.depth = 0
        self.outcomes: Counter[str] = Counter()
        self.checked = 0
        self.failures: List[str] = []  # also those raised where nobody sees them (__del__)

    # Values

    def fake(self) -> "Fake":
        return Fake(self, fail=self.rng.random() < 0.05, reenter=self.rng.random() < 0.02)

    def value(self) -> Any:
        pick = self.rng.random()
        if pick < 0.55:
            return self.fake()
        if pick < 0.65:
            return svc.OstrelServicer()
        if pick < 0.7:
            return Reentrant(self)
        if pick < 0.8:
            return service_pb2.ConnectRequest(client="c")
        return self.rng.choice((None, 0, -1, "t", (), 2.5, True, b"x"))

    def keywords(self, names: Sequence[str], positional: int) -> Dict[Any, Any]:
        """Mostly the parameters not given by position, some of them as hostile
        keys of the same text; now and then a fault: an unknown name, a name
        already given, a key that is no string."""
        keywords: Dict[Any, Any] = {}
        for name in names[positional:]:
            if self.rng.random() < 0.6:
                hostile = self.rng.random() < 0.1
                keywords[HostileKey.make(self.rng, name) if hostile else name] = self.value()
        if self.rng.random() < 0.2:
            fault = self.rng.choice((
                self.rng.choice(UNKNOWN), self.rng.choice(names or PARAMETERS),
                self.rng.choice((1, None, b"channel", ("request",))),
                HostileKey.make(self.rng, self.rng.choice(PARAMETERS + UNKNOWN))))
            keywords[fault] = self.value()
        return keywords

    # Calls

    def target(self) -> Callable[..., Any]:
        name = self.rng.choice(METHODS)
        functions: Tuple[Callable[..., Any], ...] = (
            svc.OstrelStub, svc.OstrelStub.__init__, svc.add_OstrelServicer_to_server,
            getattr(svc.OstrelServicer, name), getattr(svc.OstrelServicer(), name),
            getattr(svc.Ostrel, name), getattr(svc.Ostrel(), name))
        return self.rng.choice(functions)

    def call(self) -> None:
        function = self.target()
        names = list(inspect.signature(function).parameters)
        count = self.rng.choice(range(len(names) + 2)) if self.rng.random() < 0.95 else 11
        args = tuple(self.value() for _ in range(count))
        keywords = self.keywords(names, count)
        for key in keywords:
            if isinstance(key, HostileKey):
                key.victims.append(keywords)
        still = all(type(k) is str for k in keywords)
        expected = binds(function, args, keywords) if still else None
        self.depth += 1
        try:
            if still and self.rng.random() < 0.5:
                function(*args, **keywords)
            else:
                _call(function, args, keywords)
            outcome = "returned"
        except Exception as error:
            outcome = self.explain(error)
        finally:
            self.depth -= 1
            for key in keywords:
                if isinstance(key, HostileKey):
                    key.victims.clear()
        if expected is not None:
            self.checked += 1
            if (outcome == "argument error") != (not expected):
                self.fail(f"{function!r}{args!r} {keywords!r}: {outcome}, "
                          f"but inspect.signature {'binds' if expected else 'refuses'}")
        self.outcomes[outcome] += 1

    def explain(self, error: Exception) -> str:
        if type(error) is TypeError and ARGUMENT_ERROR.match(str(error)):
            return "argument error"
        if isinstance(error, (Fault, KeyFault, AttributeError, NotImplementedError)):
            return type(error).__name__
        if isinstance(error, AssertionError):
            raise error
        self.fail(f"unexplained {type(error).__name__}: {error}")
        raise AssertionError  # not reached

    def fail(self, text: str) -> None:
        self.failures.append(text)
        raise AssertionError(text)

    def nested_call(self) -> None:
        if self.depth < MAX_DEPTH:
            self.call()


def binds(function: Callable[..., Any], args: Tuple[Any, ...], keywords: Dict[Any, Any]) -> bool:
    try:
        inspect.signature(function).bind(*args, **keywords)
    except TypeError:
        return False
    return True


class Fake:
    """A channel, servicer, server, context and grpc at once: every attribute
    is itself, every call returns a fresh object, raises Fault, or first
    makes another call of the module."""

    def __init__(self, fuzzer: Fuzzer, fail: bool, reenter: bool) -> None:
        self._fuzzer, self._fail, self._reenter = fuzzer, fail, reenter

    def __getattr__(self, name: str) -> "Fake":
        if name.startswith("__"):
            raise AttributeError(name)
        return self

    def __call__(self, *args: Any, **kwargs: Any) -> object:
        if self._reenter:
            self._fuzzer.nested_call()
        if self._fail:
            raise Fault("fake fails")
        return object()


class Reentrant:
    """A value that calls the module again when it is freed."""

    def __init__(self, fuzzer: Fuzzer) -> None:
        self._fuzzer = fuzzer

    def __del__(self) -> None:
        try:
            self._fuzzer.nested_call()
        except AssertionError:
            raise
        except Exception:
            pass


class HostileKey(str):
    """A keyword that, once armed with the dictionaries that hold it, acts on
    them when compared: empty, fill, shrink, collect, raise, or nothing; it
    may hash like a parameter name, so that a lookup of that name meets it."""

    victims: List[Dict[Any, Any]]
    action: str
    equal_to_all: bool
    hash_as: Optional[str]

    @classmethod
    def make(cls, rng: random.Random, text: str) -> "HostileKey":
        key = cls(text)
        key.victims = []
        key.action = rng.choice(("empty", "fill", "shrink", "collect", "raise", "none"))
        key.equal_to_all = rng.random() < 0.2
        key.hash_as = rng.choice(PARAMETERS) if rng.random() < 0.3 else None
        return key

    def __hash__(self) -> int:
        return hash(self.hash_as) if self.hash_as is not None else str.__hash__(self)

    def __eq__(self, other: object) -> bool:
        if not self.victims:  # still being put in its dictionary
            return str.__eq__(self, other)
        for victim in list(self.victims):
            if self.action == "empty":
                victim.clear()
            elif self.action == "fill":
                victim.update({f"filler{i}": object() for i in range(8)})
            elif self.action == "shrink" and victim:
                victim.popitem()
        if self.action == "collect":
            gc.collect(0)
        elif self.action == "raise":
            raise KeyFault("compared")
        return True if self.equal_to_all else str.__eq__(self, other)

    def __ne__(self, other: object) -> bool:
        return not self.__eq__(other)


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=(__doc__ or "").partition("\n")[0])
    parser.add_argument("--calls", type=int, default=200_000)
    parser.add_argument("--seed", type=int, default=1)
    options = parser.parse_args(argv)
    fuzzer = Fuzzer(options.seed)
    real_grpc = getattr(svc, "grpc")  # the module namespace, not its declared interface
    setattr(svc, "grpc", Fake(fuzzer, fail=False, reenter=False))
    started = time.perf_counter()
    try:
        for n in range(options.calls):
            fuzzer.call()
            if n % 10_000 == 0:
                gc.collect()
    except AssertionError:
        pass
    finally:
        setattr(svc, "grpc", real_grpc)
    if fuzzer.failures:
        print(f"FAIL after {sum(fuzzer.outcomes.values())} calls (seed {options.seed}): "
              + fuzzer.failures[0])
        return 1
    elapsed = time.perf_counter() - started
    print(f"{options.calls} calls, {sum(fuzzer.outcomes.values())} with those made from "
          f"inside calls, in {elapsed:.1f} s (seed {options.seed}); {fuzzer.checked} checked against inspect.signature; outcomes: "
          + ", ".join(f"{k} {v}" for k, v in fuzzer.outcomes.most_common()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
