"""Which calls the server takes, decided from their headers alone.

gRPC looks the handler of a call up on its serving thread, with the call's
headers but before any of its body has arrived; the handler then runs on a
worker thread, which for a single-message request first waits for and reads
the whole message. `Gate` does its work in that lookup:

- a call without an accepted token is answered UNAUTHENTICATED by a handler
  that takes requests as a stream and never reads one, on a small pool of
  its own: its body is neither awaited nor kept, and no worker is held;
- calls are counted by lane (the service, health checks) and a call past its
  lane's limit is answered RESOURCE_EXHAUSTED the same way;
- an accepted single-message request is read by the handler itself, with a
  time bound, so that a caller who sends headers and then nothing holds a
  worker for that long at most;
- health checks run on a pool of their own, which callers of the service,
  however many or slow, cannot take.

Refusals are logged (peer, method, reason; never a token), at most a burst
and then a steady few a second, with a count of those left out.
"""

import itertools
import logging
import threading
import time
from collections import OrderedDict
from concurrent import futures
from typing import TYPE_CHECKING, Any, Callable, Dict, Iterator, Optional, Tuple

import grpc

from ostrel.server.logs import clip
from ostrel.server.security import OPEN_METHODS, TokenFile, bearer_token

if TYPE_CHECKING:
    from typing_extensions import TypeAlias

    Handler: TypeAlias = "grpc.RpcMethodHandler[Any, Any]"

log = logging.getLogger("ostrel.server")

TOKEN_NEEDED = "this server needs a bearer token in the authorization header"
TOKEN_REFUSED = "the bearer token was not accepted"
ERR_BUSY = "the server is busy: %d %s calls are in flight, as many as it takes; try again shortly"
ERR_NO_REQUEST = "the request did not arrive within %g s"
ERR_ONE_REQUEST = "%s takes exactly one request message"
REFUSED_LINE = "refused %s from %s: %s"
UNLOGGED = " (%d more refusals not logged)"

HEALTH_READ_TIMEOUT = 2.0
HEALTH_WORKERS = 4
HEALTH_CALLS = 16
REFUSAL_WORKERS = 2
# Refusal log lines: a burst of this many, then this many a second.
LOG_BURST = 20
LOG_RATE = 2.0


class Watchdog:
    """Runs an action when its time comes unless disarmed before; one thread
    for every armed action, started on first use.

    Actions armed for the same number of seconds come due in the order they
    were armed, so each such group is kept in arming order: arming and
    disarming take constant time, and only the first of a group is watched."""

    def __init__(self) -> None:
        self._groups: "Dict[float, OrderedDict[int, Tuple[float, Callable[[], None]]]]" = {}
        self._keys = itertools.count()
        self._changed = threading.Condition()
        self._thread: Optional[threading.Thread] = None
        self._stopped = False

    def arm(self, seconds: float, action: Callable[[], None]) -> Tuple[float, int]:
        key = next(self._keys)
        with self._changed:
            group = self._groups.setdefault(seconds, OrderedDict())
            group[key] = (time.monotonic() + seconds, action)
            if self._thread is None and not self._stopped:
                self._thread = threading.Thread(target=self._run, name="read-watchdog", daemon=True)
                self._thread.start()
            if len(group) == 1:  # a new first of its group: the thread may sleep past it
                self._changed.notify()
        return seconds, key

    def disarm(self, armed: Tuple[float, int]) -> None:
        with self._changed:
            self._groups[armed[0]].pop(armed[1], None)

    def _next_action(self) -> Optional[Callable[[], None]]:
        with self._changed:
            while not self._stopped:
                now, wait = time.monotonic(), None
                for group in self._groups.values():
                    if not group:
                        continue
                    key, (due, action) = next(iter(group.items()))
                    if due <= now:
                        del group[key]
                        return action
                    wait = due - now if wait is None else min(wait, due - now)
                self._changed.wait(wait)
            return None

    def _run(self) -> None:
        while True:
            action = self._next_action()
            if action is None:
                return
            try:
                action()
            except Exception:  # an action failing must not end the watch over the others
                log.debug("a read bound's action failed", exc_info=True)

    def stop(self) -> None:
        with self._changed:
            self._stopped = True
            self._changed.notify()


class RateLimitedLog:
    """Logs at most a burst of lines and then `rate` a second; the next line
    logged tells how many were left out."""

    def __init__(self, burst: int = LOG_BURST, rate: float = LOG_RATE) -> None:
        self.burst, self.rate = burst, rate
        self._allowance = float(burst)
        self._last = time.monotonic()
        self._left_out = 0
        self._lock = threading.Lock()

    def warning(self, message: str, *args: Any) -> None:
        with self._lock:
            now = time.monotonic()
            self._allowance = min(self.burst, self._allowance + (now - self._last) * self.rate)
            self._last = now
            if self._allowance < 1:
                self._left_out += 1
                return
            self._allowance -= 1
            left_out, self._left_out = self._left_out, 0
        log.warning(message + (UNLOGGED % left_out if left_out else ""), *args)


class Lane:
    """Calls of one kind: the pool they run on and how many may be in flight."""

    def __init__(self, name: str, pool: Optional[futures.ThreadPoolExecutor], limit: int,
                 read_timeout: float) -> None:
        self.name, self.pool, self.limit, self.read_timeout = name, pool, limit, read_timeout
        self.in_flight = 0
        self._lock = threading.Lock()

    def enter(self) -> bool:
        with self._lock:
            if self.in_flight >= self.limit:
                return False
            self.in_flight += 1
            return True

    def leave(self) -> None:
        with self._lock:
            self.in_flight -= 1


def _on_pool(behavior: Callable[..., Any], pool: Optional[futures.ThreadPoolExecutor]) -> Callable[..., Any]:
    # gRPC runs a behavior carrying this attribute on that pool instead of the server's.
    if pool is not None:
        setattr(behavior, "experimental_thread_pool", pool)
    return behavior


class Gate(grpc.ServerInterceptor):
    """Admits, refuses and places every call from its headers (see the module).

    `tokens`: when given, every call but health checks needs one of them.
    `max_calls`: service calls in flight, running or waiting for a worker.
    `read_timeout`: seconds an admitted call's request may take to arrive.
    """

    def __init__(self, tokens: Optional[TokenFile], max_calls: int, read_timeout: float) -> None:
        self.tokens = tokens
        self.watchdog = Watchdog()
        self.refusals = RateLimitedLog()
        self._refusal_pool = futures.ThreadPoolExecutor(REFUSAL_WORKERS, thread_name_prefix="refusal")
        health_pool = futures.ThreadPoolExecutor(HEALTH_WORKERS, thread_name_prefix="health")
        self.service = Lane("service", None, max_calls, read_timeout)
        self.health = Lane("health", health_pool, HEALTH_CALLS, min(read_timeout, HEALTH_READ_TIMEOUT))
        # The handlers given out, made once for each method (and refusal):
        # what they do depends on nothing of a single call.
        self._admitting: "Dict[str, Tuple[Handler, Handler]]" = {}
        self._refusing: "Dict[Tuple[grpc.StatusCode, str, str], Handler]" = {}

    def intercept_service(self, continuation: "Callable[[grpc.HandlerCallDetails], Optional[Handler]]",
                          handler_call_details: grpc.HandlerCallDetails) -> "Optional[Handler]":
        handler = continuation(handler_call_details)
        method = handler_call_details.method
        if handler is None:
            return None
        is_open = method.startswith(OPEN_METHODS)
        if self.tokens is not None and not is_open:
            token = bearer_token(handler_call_details.invocation_metadata)
            if token is None or not self.tokens.accepts(token):
                reason = TOKEN_NEEDED if token is None else TOKEN_REFUSED
                return self._refusal(grpc.StatusCode.UNAUTHENTICATED, reason, method)
        lane = self.health if is_open else self.service
        if not lane.enter():
            return self._refusal(grpc.StatusCode.RESOURCE_EXHAUSTED, ERR_BUSY % (lane.limit, lane.name), method)
        made = self._admitting.get(method)
        if made is None or made[0] is not handler:
            made = self._admitting[method] = (handler, self._admitted(handler, lane, method))
        return made[1]

    def _refusal(self, code: grpc.StatusCode, reason: str, method: str) -> "Handler":
        """The refusal handler of `code`, `reason` and `method`, made on first use."""
        key = (code, reason, method)
        made = self._refusing.get(key)
        if made is None:
            made = self._refusing[key] = self._refuse(code, reason, method)
        return made

    def _refuse(self, code: grpc.StatusCode, reason: str, method: str) -> "Handler":
        """A handler that answers `code` at once: requests taken as a stream
        and never read, on the refusal pool."""

        def refuse(requests: Any, context: grpc.ServicerContext) -> Any:
            self.refusals.warning(REFUSED_LINE, clip(method), clip(context.peer()), reason)
            context.abort(code, reason)

        return grpc.stream_stream_rpc_method_handler(_on_pool(refuse, self._refusal_pool))

    def _admitted(self, handler: "Handler", lane: Lane, method: str) -> "Handler":
        """`handler` on its lane's pool, leaving the lane when done; a single
        request read by the handler itself within the lane's time bound."""
        behavior: Optional[Callable[..., Any]] = (handler.unary_unary or handler.unary_stream
                                                  or handler.stream_unary or handler.stream_stream)
        assert behavior is not None, "a handler has a behavior of its kind"
        single = not handler.request_streaming
        non_blocking = getattr(behavior, "experimental_non_blocking", False)

        def call(requests: Any, context: grpc.ServicerContext, *more: Any) -> Any:
            try:
                argument = self._read_one(requests, context, lane.read_timeout, method) if single else requests
                return behavior(argument, context, *more)
            finally:
                lane.leave()

        def stream(requests: Any, context: grpc.ServicerContext) -> Iterator[Any]:
            try:
                argument = self._read_one(requests, context, lane.read_timeout, method) if single else requests
                yield from behavior(argument, context)
            finally:
                lane.leave()

        streams_out = handler.response_streaming and not non_blocking
        wrapped = _on_pool(stream if streams_out else call, lane.pool)
        if non_blocking:
            setattr(wrapped, "experimental_non_blocking", True)
        make = grpc.stream_stream_rpc_method_handler if handler.response_streaming else \
            grpc.stream_unary_rpc_method_handler
        return make(wrapped, request_deserializer=handler.request_deserializer,
                    response_serializer=handler.response_serializer)

    def _read_one(self, requests: Any, context: grpc.ServicerContext, timeout: float, method: str) -> Any:
        """The call's one request. A call whose request does not arrive within
        `timeout` seconds is cancelled (gRPC then raises here the error it
        keeps quiet about); one whose caller sends none is aborted."""

        def give_up() -> None:
            self.refusals.warning(REFUSED_LINE, clip(method), clip(context.peer()), ERR_NO_REQUEST % timeout)
            context.cancel()

        bound = self.watchdog.arm(timeout, give_up)
        try:
            request = next(requests, None)
        finally:
            self.watchdog.disarm(bound)
        if request is None:
            context.abort(grpc.StatusCode.UNIMPLEMENTED, ERR_ONE_REQUEST % method)
        return request

    def stop(self) -> None:
        self.watchdog.stop()
        self._refusal_pool.shutdown(wait=False)
        if self.health.pool is not None:
            self.health.pool.shutdown(wait=False)
