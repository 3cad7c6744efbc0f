"""Read and write the job results files of libcijobresults.

    for record in cijobresults.read("/var/ci/results\\ci_push_1700000000.xml"):
        print(record.client_name, record.size)

    with cijobresults.Writer("/var/ci/results") as writer:
        writer.add(client_name="alpha", url="/jobs/1001", backup_job_id="1001", size=4096)
    print(writer.path)

    for file in cijobresults.files("/var/ci/results"):
        print(file.path, file.created, file.size)

    verdict = cijobresults.check(file.path)   # as `jobresults check` judges it
    rescue = cijobresults.salvage(file.path)  # as `jobresults salvage` repairs it

    reader = cijobresults.read(path)           # later, only the records added since:
    ...; point = reader.resume_point           # a tuple of ints, kept by the caller
    for record in cijobresults.read(path, resume=point): ...

    for file in cijobresults.files("/var/ci/results"):   # run after run:
        reading = cijobresults.read_new(file, store.get(file.id))
        for record, offset in reading:                  # only what the file gained
            ship(record, offset)
        store[file.id] = reading.progress               # a Progress: to_text(), pickle

A file's path is its directory name, a backslash and ci_push_<seconds>.xml; on
POSIX the backslash is part of the file name. Strings are the file's bytes
decoded as UTF-8 with "surrogateescape" (any byte survives a round trip);
read(..., bytes=True) gives bytes instead.
"""

import datetime
import os
import warnings
from typing import List, NamedTuple, Optional, Tuple, Union

from . import _core
from ._core import DamagedFileError, Progress, Reader, Record

__all__ = ["DamagedFileError", "FileCheck", "FileId", "NewRecords", "Progress", "Reader", "Record",
           "RescueLeftover", "ResultsFile", "Salvage", "Writer", "check", "files", "read",
           "read_new", "rescue_leftovers", "salvage", "writer_alive"]

_SEPARATOR = _core.DIRECTORY_SEPARATOR
_PathArg = Union[str, bytes, os.PathLike]


def read(path: _PathArg, file_name: Optional[_PathArg] = None, *, bytes: bool = False,
         resume: Optional[Tuple[int, int, int]] = None) -> Reader:
    """Iterates over the records of a job results file, in file order.

    read(path) takes the file's path (directory name, backslash, file name,
    or any other path of the file); read(dir_name, file_name) the two parts. Records are Record named tuples
    (client_name, url, backup_job_id, error_string, size), read as the loop
    goes, in the same memory whatever the file's size. A file that cannot be
    opened raises OSError (FileNotFoundError, PermissionError, ...); a damaged
    one raises DamagedFileError after the records in front of the damage.

    resume takes what reader.resume_point gave, kept however the caller
    likes: the reading goes on behind the records read then, once it has
    checked that the file is still the one read. A file rewritten or replaced
    since raises OSError with errno ESTALE; read it again from its start.
    """
    if file_name is None:
        return Reader(b"", os.fsencode(path), bytes, resume)
    return Reader(os.fsencode(path), os.fsencode(file_name), bytes, resume)


class FileCheck(NamedTuple):
    """The verdict of check(): how the file ends ("saved", "open", "writing"
    for a write under way or cut short by a kill, "cut" when damaged), its
    sound records (all in front of the damage), and for a damaged file what
    the damage is ("stray": bytes no writer leaves there; "cut": the file
    stops where a record or an end tag should follow), where it begins and
    how many bytes it spans."""

    ending: str
    records: int
    damage: Optional[str]
    damage_offset: Optional[int]
    damage_length: Optional[int]

    @property
    def sound(self) -> bool:
        return self.damage is None


def check(path: _PathArg) -> FileCheck:
    """Checks a job results file as `jobresults check` does: sound only when it
    is exactly as a writer leaves it. read() refuses a file exactly where this
    finds damage. A file that cannot be opened or read raises OSError."""
    return _file_check(_core.check_file(os.fsencode(path)))


def _file_check(fields: Tuple[str, int, str, int, int]) -> FileCheck:
    ending, records, damage, offset, length = fields
    if not damage:
        return FileCheck(ending, records, None, None, None)
    return FileCheck(ending, records, damage, offset, length)


class Salvage(NamedTuple):
    """What salvage() did. sound: the file had no damage and nothing was
    copied (records counts its records). Otherwise records is the count of
    intact records copied, damaged_stretches the (offset, length) of each
    run of bytes left out, cut_at where a cut file stops (None when it is
    not cut), copy_path where the copy is and damaged_path where the damaged
    file is kept (None unless salvaged in place). leftovers: the copies of
    stopped salvages of the same file, each (path, 0 when removed or the
    errno of the failed removal)."""

    sound: bool
    records: int
    damaged_stretches: List[Tuple[int, int]]
    damaged_bytes: int
    cut_at: Optional[int]
    copy_path: Optional[str]
    damaged_path: Optional[str]
    leftovers: List[Tuple[str, int]]


def _optional_path(path: bytes) -> Optional[str]:
    return os.fsdecode(path) if path else None


def salvage(path: _PathArg, *, out_dir_name: Optional[_PathArg] = None) -> Salvage:
    """Salvages a damaged job results file as `jobresults salvage` does: its
    intact records are copied through the writer into a file of the same
    creation time, which takes the file's name, while the damaged file is
    kept as path + ".damaged"; a stop at any moment loses nothing. With
    out_dir_name the copy is made under that directory name instead and the
    file is left as it is. A sound file is not copied. A failure raises
    OSError with its errno and the file's path (ENODATA: no intact record)."""
    out = b"" if out_dir_name is None else os.fsencode(out_dir_name)
    sound, records, stretches, damaged_bytes, cut, cut_at, copy, damaged, leftovers = \
        _core.salvage_file(os.fsencode(path), out)
    return Salvage(sound, records, stretches, damaged_bytes, cut_at if cut else None,
                   _optional_path(copy), _optional_path(damaged),
                   [(os.fsdecode(p), error) for p, error in leftovers])


class RescueLeftover(NamedTuple):
    """A copy left by a salvage that stopped, and the file it was made for,
    whose salvage removes it."""

    path: str
    original: str


def rescue_leftovers(dir_name: _PathArg) -> List[RescueLeftover]:
    """The copies that stopped salvages of the files of dir_name left, by
    path."""
    return [RescueLeftover(os.fsdecode(path), os.fsdecode(original))
            for path, original in _core.rescue_leftovers(os.fsencode(dir_name))]


class FileId(NamedTuple):
    """What tells a file apart from every other, also from a later one under
    the same name: a key to keep its Progress under."""

    device: int
    inode: int
    birth_ns: int


class _ListedFields(NamedTuple):
    path: str
    created: datetime.datetime
    size: int


class ResultsFile(_ListedFields):
    """A job results file found by files(): its whole path, its creation time
    (from its name, UTC) and its size in bytes, which it unpacks to and
    compares by as a tuple, and as attributes its id, its modification time
    in nanoseconds, and how it ends by its last bytes ("saved", "open", or
    None for neither)."""

    id: FileId
    modified_ns: int
    ending: Optional[str]

    @classmethod
    def _of(cls, path: str, created: datetime.datetime, size: int, id: FileId,
            modified_ns: int, ending: Optional[str]) -> "ResultsFile":
        file = cls(path, created, size)
        file.id, file.modified_ns, file.ending = id, modified_ns, ending
        return file

    def _extras(self) -> tuple:
        return self.id, self.modified_ns, self.ending

    @property
    def writer_alive(self) -> bool:
        """Whether a writer holds the file now. A file that ends "open" with
        no writer was left by one that was killed: `jobresults close` saves
        it. OSError when the file cannot be opened or tested."""
        return writer_alive(self.path)

    # Copies and pickles are made from all six values rather than left to
    # how the tuple's own reduction treats attributes; the tuple's
    # _replace() knows only its three fields.
    def __reduce__(self) -> tuple:
        return _results_file, (*self, *self._extras())

    def _replace(self, **changes) -> "ResultsFile":
        fields = dict(zip(self._fields + ("id", "modified_ns", "ending"), (*self, *self._extras())))
        return self._of(**{**fields, **changes})

    def __repr__(self) -> str:
        return (f"{super().__repr__()[:-1]}, id={self.id!r}, modified_ns={self.modified_ns!r}, "
                f"ending={self.ending!r})")


def _results_file(*fields) -> ResultsFile:
    return ResultsFile._of(*fields)


_EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)


def _listed(fields: tuple) -> ResultsFile:
    path, seconds, size, modified_ns, identity, ending = fields
    return ResultsFile._of(os.fsdecode(path), _EPOCH + datetime.timedelta(seconds=seconds),
                           size, FileId(*identity), modified_ns, ending)


def writer_alive(path: _PathArg) -> bool:
    """Whether a writer holds the job results file now (it has the file open
    and its process lives). The test never blocks and never disturbs the
    writer. OSError when the file cannot be opened or tested."""
    return _core.writer_alive(os.fsencode(path))


def _check_directory_name(dir_name: bytes) -> None:
    """A directory name that ends in "/" raises ValueError; one that is an
    existing directory warns: either says what it means and what to pass."""
    note = _core.directory_name_note(dir_name)
    if note is None:
        return
    text, ends_in_slash = note
    if ends_in_slash:
        raise ValueError(text)
    warnings.warn(text, stacklevel=3)


def files(dir_name: _PathArg) -> List[ResultsFile]:
    """The job results files of a directory name, oldest first, without reading
    them: the regular files named dir_name + "\\ci_push_<seconds>.xml"."""
    dir_name = os.fsencode(dir_name)
    _check_directory_name(dir_name)
    return [_listed(fields) for fields in _core.list_files(dir_name)]


class NewRecords(_core.NewRecords):
    """The records a file gained since a kept Progress, from read_new():
    (record, offset) pairs, read as the loop goes. Once they are all taken:
    progress (the Progress to keep), records (how many came), replaced (the
    file is not the one the progress was kept of: read from its start when
    change is "grew", otherwise nothing came and the progress stays; drop
    what was kept of it and call read_new(file) without one), problem (None,
    "damaged": refused where check() finds the damage; "failed": a system
    call failed, error holds the OSError) and check."""

    @property
    def check(self) -> Optional[FileCheck]:
        """The verdict of the reading as check() gives it, its records
        counted from where the reading began; None for a file not opened
        (unchanged) or not read (problem "failed")."""
        fields = self._check_fields
        return None if fields is None else _file_check(fields)


def read_new(file: Union[ResultsFile, _PathArg], progress: Optional[Progress] = None, *,
             bytes: bool = False) -> NewRecords:
    """The records a file gained since progress, the Progress its last
    reading gave (None: all of them). file is what files() listed, or the
    path of a job results file. An unchanged file (by its listing and status
    change time) is not opened and yields nothing; one that grew is read on
    behind the progress; any other change reads it from its start, judged
    as check() judges it, passing over the records yielded before. Damage
    is reported by the reading's problem and check, not raised, so that
    the progress that marks the file damaged can be kept."""
    if not isinstance(file, ResultsFile):
        file = _listed(_core.describe_file(os.fsencode(file)))
    return NewRecords(os.fsencode(file.path), file.size, file.modified_ns, tuple(file.id),
                      file.ending, progress, bytes)


class Writer(_core.Writer):
    """Writes job results into a new file of the directory name dir_name.

        with cijobresults.Writer("/var/ci/results") as writer:
            writer.add(client_name="alpha", url="/jobs/1001", backup_job_id="1001",
                       error_string="", size=4096)

    The first add() creates dir_name + "\\ci_push_<seconds>.xml"; each record is
    in the file when add() returns, and the file is a complete document after
    every add(). Leaving the block (or save()) writes the final end tag. A
    failed add() raises OSError with the library's message; the file keeps
    every earlier record.

    sync says what a power loss may cost: "none", "name" (the default: the
    file and its first record survive), "append" (every record is on the
    disk when add() returns), or None for the environment's
    CIJOBRESULTS_SYNC. For many records at one sync's cost, add them at
    "name" and call sync() once: they are all on the disk when it returns.
    """

    def __init__(self, dir_name: _PathArg, sync: Optional[str] = None) -> None:
        dir_name = os.fsencode(dir_name)
        _check_directory_name(dir_name)
        super().__init__(dir_name, sync)

    @property
    def path(self) -> Optional[str]:
        """The whole path of the file once the first add() has created it,
        None before."""
        path = self._created_path
        return None if path is None else os.fsdecode(path)
