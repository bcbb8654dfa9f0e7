#!/usr/bin/env python3
"""Proves that what brintle generates really works with uv, ruff, pytest, Alembic and uvicorn,
for a project made by `brintle new` and for a hand-written application in the "app" layout.

Usage: check_generated_project.py BRINTLE_EXECUTABLE
Set BRINTLE_SKIP_E2E=1 to skip on purpose (exit status 77); an unreachable package index fails.
"""

import contextlib
import functools
import json
import os
import re
import shutil
import signal
import socket
import sqlite3
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request
from pathlib import Path

COMMAND_TIMEOUT = 600
REQUEST_TIMEOUT = 10
# Every warning an error: the generated configuration and migrations must leave none.
ALEMBIC = ("python", "-W", "error", "-m", "alembic")


def expect(condition: bool, message: str) -> None:
    if not condition:
        raise AssertionError(message)


def run(argv: list[str], cwd: Path) -> str:
    """Runs a command and returns its stdout; fails with its output when it exits non-zero."""
    print(f"$ {' '.join(argv)}", flush=True)
    result = subprocess.run(argv, cwd=cwd, capture_output=True, text=True, timeout=COMMAND_TIMEOUT)
    expect(result.returncode == 0,
           f"{' '.join(argv)} exited with {result.returncode}:\n{result.stdout}{result.stderr}")
    return result.stdout


@functools.cache
def find_uv() -> str:
    """The uv on PATH, else one pip installs into a private venv (as system Pythons may refuse)."""
    if uv := shutil.which("uv"):
        return uv
    venv = Path(os.environ.get("XDG_CACHE_HOME", Path.home() / ".cache")) / "brintle-test-uv"
    if not (venv / "bin" / "uv").exists():
        run([sys.executable, "-m", "venv", str(venv)], Path.cwd())
        run([str(venv / "bin" / "python"), "-m", "pip", "install", "--quiet", "uv"], Path.cwd())
    return str(venv / "bin" / "uv")


def uv_run(project: Path, *argv: str) -> str:
    """A tool from the project's environment, as `uv sync` left it."""
    return run([find_uv(), "run", "--no-sync", *argv], project)


def request(method: str, url: str, body: object = None) -> tuple[int, object]:
    """The status (0 if nothing answered) and the body, decoded if it is JSON."""
    data = None if body is None else json.dumps(body).encode()
    req = urllib.request.Request(url, data, {"Content-Type": "application/json"}, method=method)
    try:
        response = urllib.request.urlopen(req, timeout=REQUEST_TIMEOUT)
    except urllib.error.HTTPError as error:
        response = error
    except (urllib.error.URLError, ConnectionError, TimeoutError):
        return 0, None
    with response:
        raw, is_json = response.read(), response.headers.get_content_type() == "application/json"
    return response.status, json.loads(raw) if raw and is_json else raw.decode(errors="replace")


@contextlib.contextmanager
def serving(project: Path, app: str):
    """uvicorn serving `app` on a free local port, once it answers /health; yields its base URL.
    Its warnings and errors go to this check's own output."""
    with socket.socket() as sock:
        sock.bind(("127.0.0.1", 0))
        port = sock.getsockname()[1]
    base = f"http://127.0.0.1:{port}"
    # A session of its own, so that stopping it stops uvicorn under uv too.
    server = subprocess.Popen([find_uv(), "run", "--no-sync", "uvicorn", app, "--host", "127.0.0.1",
                               "--port", str(port), "--log-level", "warning"],
                              cwd=project, start_new_session=True)
    try:
        deadline = time.monotonic() + 60
        while (server.poll() is None and time.monotonic() < deadline
               and request("GET", f"{base}/health")[0] == 0):
            time.sleep(0.3)
        health = request("GET", f"{base}/health")
        expect(health == (200, {"status": "ok"}), f"GET /health: {health}")
        yield base
    finally:
        with contextlib.suppress(ProcessLookupError):  # none left if uv already exited
            os.killpg(server.pid, signal.SIGKILL)
        server.wait()


def check_module_routes(base: str, snake: str, pascal: str) -> None:
    """The full CRUD cycle of one generated module through the live server, and its schema."""
    prefix = f"{base}/{snake}s"
    status, created = request("POST", prefix, {})
    expect(status == 201 and "id" in created, f"POST {prefix}: {status} {created}")
    item = f"{prefix}/{created['id']}"
    for method, url, expected in (("GET", prefix, (200, [created])),
                                  ("GET", item, (200, created)),
                                  ("PATCH", item, (200, created)),
                                  ("DELETE", item, (204, "")),
                                  ("GET", item, (404, {"detail": f"{pascal} not found"}))):
        answer = request(method, url, {} if method == "PATCH" else None)
        expect(answer == expected, f"{method} {url}: {answer}, expected {expected}")
    # Ids past a signed 32-bit integer (PostgreSQL's INTEGER) or a 64-bit one (SQLite's driver)
    # are refused as invalid; the largest id in range is merely not found.
    for method in ("GET", "PATCH", "DELETE"):
        for id_, expected in ((2**31 - 1, 404), (2**31, 422), (2**63, 422)):
            status, body = request(method, f"{prefix}/{id_}", {} if method == "PATCH" else None)
            expect(status == expected, f"{method} {prefix}/{id_}: {status} {body}")
    routes = {f"/{snake}s", f"/{snake}s/{{{snake}_id}}"}
    status, schema = request("GET", f"{base}/openapi.json")
    expect(routes <= schema["paths"].keys(), f"/openapi.json lacks one of {routes}")


def check_pytest(project: Path, minimum: int, *paths: str) -> None:
    output = uv_run(project, "pytest", "-q", "-rA", "-p", "no:cacheprovider", "-W", "error", *paths)
    summary = output.strip().splitlines()[-1]
    passed = re.match(r"(\d+) passed in ", summary)
    expect(passed is not None and int(passed[1]) >= minimum,
           f"pytest should pass {minimum}+ tests under -W error, and nothing else: {summary}")


def check_refused(brintle: str, project: Path, *argv: str) -> None:
    """The command fails with status 1 and leaves every file of the project as it was."""
    def files() -> dict[Path, bytes]:
        return {path: path.read_bytes() for path in project.rglob("*") if path.is_file()}
    before = files()
    result = subprocess.run([brintle, *argv], cwd=project, capture_output=True, text=True,
                            timeout=COMMAND_TIMEOUT)
    expect(result.returncode == 1 and result.stderr.startswith("error: "),
           f"{' '.join(argv)} should be refused: {result.returncode} {result.stderr}")
    expect(files() == before, f"{' '.join(argv)} was refused but changed the project's files")


def migrate(project: Path, message: str) -> None:
    uv_run(project, *ALEMBIC, "revision", "--autogenerate", "-m", message)
    uv_run(project, *ALEMBIC, "upgrade", "head")


def check_works(project: Path, source: str, modules: dict[str, str], tests: int) -> None:
    """The project installs, lints, passes its tests, migrates, and serves each module's routes."""
    run([find_uv(), "sync"], project)
    uv_run(project, "ruff", "check", ".")
    check_pytest(project, tests)
    uv_run(project, *ALEMBIC, "upgrade", "head")
    migrate(project, "add modules")
    revision = "".join(path.read_text() for path in (project / "migrations/versions").glob("*.py")
                       if path.name != "0001_initial.py")
    missing = [snake for snake in modules
               if not re.search(rf"op\.create_table\(\s*['\"]{snake}s['\"]", revision)]
    expect(not missing, f"no revision creates the tables of {missing}:\n{revision}")
    with serving(project, f"{source}.main:app") as base:
        for snake, pascal in modules.items():
            check_module_routes(base, snake, pascal)


def check_new_project(brintle: str, workdir: Path) -> None:
    run([brintle, "new", "shop"], workdir)
    project = workdir / "shop"
    run([brintle, "make", "module", "user"], project)
    run([brintle, "make", "module", "BlogPost"], project)
    # A feature's class shares the router with FastAPI's names: `path` works, while features
    # whose class would hide a name their own files use are refused, with nothing written.
    run([brintle, "make", "module", "path"], project)
    for name in ("depends", "protocol"):
        check_refused(brintle, project, "make", "module", name)
    # The project's health test, and four tests of each module; then one module's tests alone.
    check_works(project, "src", {"user": "User", "blog_post": "BlogPost", "path": "Path"}, tests=13)
    check_pytest(project, 4, "src/modules/user")

    # SQLite cannot alter a column in place: a nullable column made required must still migrate.
    model = project / "src/modules/user/domain/model.py"
    original = model.read_text()
    for message, column in (("add nickname", "str | None"), ("require nickname", "str")):
        model.write_text(f"{original}    nickname: Mapped[{column}]\n")
        migrate(project, message)
    # The first relationship: SQLite's batch mode and any DROP CONSTRAINT need named constraints.
    model = project / "src/modules/blog_post/domain/model.py"
    model.write_text("from sqlalchemy import ForeignKey\n" + model.read_text()
                     + '    user_id: Mapped[int | None] = mapped_column(ForeignKey("users.id"))\n')
    migrate(project, "add author")
    # Revisions written from the project's own template pass its own lint, empty ones included.
    migrate(project, "no change")
    write_hand_written_revision(project)
    # Every revision runs on SQLite, down to the empty database and up again.
    uv_run(project, *ALEMBIC, "upgrade", "head")
    uv_run(project, *ALEMBIC, "downgrade", "base")
    uv_run(project, *ALEMBIC, "upgrade", "head")
    uv_run(project, "ruff", "check", ".")


def write_hand_written_revision(project: Path) -> None:
    """A revision begun by `alembic revision -m`, whose body uses op and sa as they stand: it
    alters a column in the batch form that autogenerate writes for every database."""
    uv_run(project, *ALEMBIC, "revision", "-m", "hand written")
    revision = next((project / "migrations/versions").glob("*_hand_written.py"))
    text = revision.read_text()
    for function, default in (("upgrade", "sa.text(\"'anonymous'\")"), ("downgrade", "None")):
        body = ('    with op.batch_alter_table("users") as batch_op:\n'
                f'        batch_op.alter_column("nickname", server_default={default})\n')
        text = text.replace(f"def {function}() -> None:\n    pass\n",
                            f"def {function}() -> None:\n{body}")
    expect(text.count("batch_op.alter_column") == 2, f"no body written into {revision}:\n{text}")
    revision.write_text(text)


# An application brintle did not write: its app call spans lines and code follows it, so the
# module's imports and mount block must land where Python still runs them in order.
HAND_WRITTEN_APP = {
    "app/main.py": '''\
from fastapi import FastAPI

app = FastAPI(
    title="Orders",
)


@app.get("/health")
def health() -> dict[str, str]:
    return {"status": "ok"}
''',
    ".brintle.json": '{"source_dir": "app"}\n',
}


# Rows of the application's own table, which no module's model declares.
OWN_ITEMS = [(1, "bolt"), (2, "nut")]


def seed_own_table(root: Path) -> None:
    with contextlib.closing(sqlite3.connect(root / "app.db")) as db, db:
        db.execute("CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT NOT NULL)")
        db.executemany("INSERT INTO items VALUES (?, ?)", OWN_ITEMS)


def expect_own_table_kept(root: Path) -> None:
    """Autogenerate and upgrade leave a table that no model declares, and its rows, alone."""
    with contextlib.closing(sqlite3.connect(root / "app.db")) as db:
        rows = db.execute("SELECT * FROM items ORDER BY id").fetchall()  # fails if it was dropped
    expect(rows == OWN_ITEMS, f"the application's own items table lost rows: {rows}")


def check_existing_application(brintle: str, workdir: Path) -> None:
    root = workdir / "orders"
    for path, text in HAND_WRITTEN_APP.items():
        (root / path).parent.mkdir(parents=True, exist_ok=True)
        (root / path).write_text(text)
    seed_own_table(root)
    # Its dependencies and tool settings are those a generated project declares.
    run([brintle, "new", "donor"], workdir)
    pyproject = (workdir / "donor/pyproject.toml").read_text()
    (root / "pyproject.toml").write_text(pyproject.replace('"src/modules"', '"app/modules"'))
    run([brintle, "make", "module", "order"], root)
    # The table comes from a migration, as in a generated project.
    run([brintle, "init", "alembic"], root)
    check_works(root, "app", {"order": "Order"}, tests=4)
    expect_own_table_kept(root)


def main() -> int:
    if os.environ.get("BRINTLE_SKIP_E2E") == "1":
        print("generated-project check skipped (BRINTLE_SKIP_E2E=1)")
        return 77
    brintle = str(Path(sys.argv[1]).resolve())
    # The machine's interpreter serves (never download one), and each project its own venv.
    os.environ.setdefault("UV_PYTHON_DOWNLOADS", "never")
    for name in ("VIRTUAL_ENV", "NO_COLOR", "CLICOLOR_FORCE"):
        os.environ.pop(name, None)
    checks = (check_new_project, check_existing_application)
    failed = 0
    with tempfile.TemporaryDirectory(prefix="brintle-generated-") as tmp:
        for check in checks:
            print(f"== {check.__name__}", flush=True)
            # Any error, such as a body that is not what a route returns, fails this check only.
            try:
                check(brintle, Path(tmp))
            except Exception as error:
                print(f"FAILED: {check.__name__}: {type(error).__name__}: {error}", file=sys.stderr)
                failed += 1
    print(f"{len(checks) - failed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
