"""Utilities: versions, the thread count, special folders, the shell and the bit functions."""

import ctypes
import os
import signal
import time

import pytest

import lumadex


def test_versions_come_from_the_build_and_name_the_libraries_underneath(host):
    assert host.ZEPGetVersion() == 0x02030000
    assert host.ZEPGetVersionString() == "Lumadex 2.3.0.0 $Rev: 958 $"
    assert host.ZEPGetMKLVersion() == 2 << 24 | 3 << 16
    text = host.ZEPGetMKLVersionString()
    assert "FFTW fftw-3" in text and "OpenBLAS" in text and "SLEEF 3" in text and len(text) < 198


def test_the_thread_count_is_set_checked_and_counted(host):
    before = host.ZEPGetMaxThreads()
    try:
        host.ZEPSetNumThreads(1)
        assert (host.ZEPGetMaxThreads(), host.ZEPGetNumThreads()) == (1, 1)
        host.ZEPSetNumThreads(3)
        assert (host.ZEPGetMaxThreads(), host.ZEPGetNumThreads()) == (3, 1)
        for bad in (0, -2, 2**31 - 1):
            with pytest.raises(lumadex.ScriptError, match="^The number of threads must be from 1 to 1024.$"):
                host.ZEPSetNumThreads(bad)
        assert host.ZEPGetMaxThreads() == 3
        counters = host.counters()
        assert counters["SetNumThreadsDM"]["count"] == 5  # failed calls too
        assert counters["GetNumThreadsDM"]["count"] == 2
    finally:
        host.ZEPSetNumThreads(before)


DESKTOP, DOCUMENTS, APPDATA, LOCAL_APPDATA, CACHE, PROFILE = 0x0000, 0x0005, 0x001A, 0x001C, 0x0020, 0x0028


@pytest.fixture
def home(tmp_path, monkeypatch):
    for name in ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_DESKTOP_DIR", "XDG_DOCUMENTS_DIR"):
        monkeypatch.delenv(name, raising=False)
    monkeypatch.setenv("HOME", str(tmp_path))
    return tmp_path


def test_user_folders_map_to_the_xdg_folders(host, home, monkeypatch):
    folder = host.ZEPGetSpecialDirectory
    assert folder(PROFILE, 0) == f"{home}/"
    assert folder(DESKTOP, 0) is None  # missing, and not to be created
    assert folder(DESKTOP, 1) == f"{home}/Desktop/" and (home / "Desktop").is_dir()
    assert folder(DESKTOP | 0x8000, 0) == f"{home}/Desktop/"  # the flag may come inside the code
    assert folder(LOCAL_APPDATA, 1) == f"{home}/.local/share/"
    assert folder(0x0099, 1) is None and folder(-1, 1) is None

    # user-dirs.dirs names the user folders; the environment names the bases.
    (home / ".config").mkdir()
    (home / ".config" / "user-dirs.dirs").write_text('# made by a test\nXDG_DOCUMENTS_DIR="$HOME/Papers"\n')
    assert folder(DOCUMENTS, 1) == f"{home}/Papers/"
    monkeypatch.setenv("XDG_CACHE_HOME", str(home / "elsewhere" / "cache"))
    assert folder(CACHE, 1) == f"{home}/elsewhere/cache/"
    monkeypatch.setenv("XDG_CONFIG_HOME", "relative/is/ignored")
    assert folder(APPDATA, 0) == f"{home}/.config/"

    # A folder that cannot be made is a null string, not an error.
    (home / "file").write_text("")
    monkeypatch.setenv("XDG_DATA_HOME", str(home / "file" / "data"))
    assert folder(LOCAL_APPDATA, 1) is None


def zombie_children():
    me = str(os.getpid())
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if fields[0] == "Z" and fields[1] == me:
            found.append(pid)
    return found


def wait_for_file(path, lines):
    for _ in range(200):
        if path.exists() and len(path.read_text().splitlines()) >= lines:
            return path.read_text().splitlines()
        time.sleep(0.05)
    raise AssertionError(f"{path} was not written")


def write_script(path, body):
    path.write_text("#!/bin/sh\n" + body)
    path.chmod(0o755)


def test_shell_exec_opens_the_line_as_one_file_never_parsed_by_a_shell(host, tmp_path, monkeypatch):
    # The desktop's opener, first on PATH, records the arguments it gets.
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    opened = tmp_path / "opened"
    write_script(bin_dir / "xdg-open", f'printf "%s\\n" "$#" "$@" > "{opened}"\n')
    monkeypatch.setenv("PATH", f"{bin_dir}:{os.environ['PATH']}")
    line = f"{tmp_path}/scan_01;touch {tmp_path}/x;.dm4"
    host.ZEPShellExec(line)
    assert wait_for_file(opened, 2) == ["1", line]
    assert not (tmp_path / "x").exists()

    # A program found on PATH starts with no arguments (and not through xdg-open).
    ran = tmp_path / "ran"
    write_script(bin_dir / "lumadex-test-program", f'echo "$#" > "{ran}"\n')
    host.ZEPShellExec("lumadex-test-program")
    assert wait_for_file(ran, 1) == ["0"]
    host.ZEPShellExec("")  # nothing started
    assert host.counters()["ShellExecDM"]["count"] == 3


def test_shell_exec_starts_an_executable_detached_with_default_signals(host, tmp_path):
    # Python ignores SIGPIPE and SIGXFSZ; the calling thread blocks SIGUSR1 and
    # holds an inheritable descriptor. The script's first child reports the
    # signal state it inherited (the shell itself blocks SIGCHLD while it
    # waits for a child, so its own mask is no witness).
    report = tmp_path / "report"
    program = tmp_path / "my tool"
    write_script(program, f"""sleep 0.5
grep -E '^Sig(Ign|Blk)' /proc/self/status > "{report}.part"
ls /proc/self/fd >> "{report}.part"
cut -d' ' -f6 /proc/$$/stat >> "{report}.part"
mv "{report}.part" "{report}"
""")
    old = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGUSR1})
    inheritable = os.open("/dev/null", os.O_RDONLY)
    os.set_inheritable(inheritable, True)
    try:
        started = time.monotonic()
        host.ZEPShellExec(str(program))
        assert time.monotonic() - started < 0.4 and not report.exists()  # not waited for
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, old)
        os.close(inheritable)
    blocked, ignored, *descriptors, session = wait_for_file(report, 5)
    assert ignored.split() == ["SigIgn:", "0000000000000000"]
    assert blocked.split() == ["SigBlk:", "0000000000000000"]
    assert set(descriptors) <= {"0", "1", "2", "3"}  # 3: ls's own directory
    assert int(session) != os.getsid(0)
    assert zombie_children() == []


def test_bit_functions():
    plugin = ctypes.CDLL(lumadex.default_plugin_path())
    ilog2, floor_pow2 = plugin._Z19ilog2_floor_asm_x86i, plugin._Z19ifloor_pow2_asm_x86i
    for f in (ilog2, floor_pow2):
        f.argtypes, f.restype = [ctypes.c_int32], ctypes.c_uint32
    cases = [(0, 0, 0), (1, 0, 1), (8, 3, 8), (15, 3, 8), (-1, 31, 0x80000000), (-(2**31), 31, 0x80000000)]
    for value, log2, power in cases:
        assert (ilog2(value), floor_pow2(value)) == (log2, power)
