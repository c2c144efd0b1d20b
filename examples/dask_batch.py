#!/usr/bin/env python3
"""Blank-page detection over many PDF files with Dask, one JSON line per file.

    python3 examples/dask_batch.py [--workers N] [--scheduler ADDRESS]
                                   [--rule light|scan] [--threshold T]
                                   [--margin MM] [--speck MM2] [--contrast N]
                                   [--max-ink MM2] [--faint MM2] PATH...

Each PATH is a PDF file or a folder, searched recursively for *.pdf (in sorted order). Every
file becomes one task; the output lines come in input order, as the tool's
`leafsift detect --json` writes them: {"file": ..., "blank": [...]} or
{"file": ..., "error": "..."}. The exit status is 1 when some file failed.

The library serves one call at a time in a process, so the work is spread over processes:
--workers N (default: the number of cores) starts a local cluster of N single-threaded
worker processes; --workers 0 runs everything in this process, without Dask.

On several machines, start a scheduler on one host and workers on each machine:

    host$    dask scheduler                                     # listens on tcp://HOST:8786
    each$    dask worker tcp://HOST:8786 --nthreads 1 --nworkers 2

(`dask` runs Debian's interpreter; when leafsift lives in a venv, start the same programs
with that venv's python as `python -m distributed.cli.dask_scheduler` and
`python -m distributed.cli.dask_worker ...`.)
then run this script anywhere with --scheduler tcp://HOST:8786. Every worker needs the
leafsift package installed (pip install ./bindings/python with LEAFSIFT_LIBRARY set), and
the files must be on a path that every worker sees under the same name (a shared mount):
the tasks carry file names, not file contents. One thread per worker process: the library
serves one call at a time per process.

Dask's nanny starts worker processes with MALLOC_TRIM_THRESHOLD_=65536, which hands each
page raster back to the system as soon as it is freed, and costs leafsift 10-20% of its
speed. The local cluster of --workers N leaves it out; on remote hosts, start one
`dask_worker --no-nanny --nthreads 1 tcp://HOST:8786` per core instead to avoid it.
"""
import argparse
import json
import os
import sys

# flag -> keyword option of leafsift.detect
SCAN_FLAGS = {"--margin": "margin_mm", "--speck": "speck_mm2", "--contrast": "contrast",
              "--max-ink": "max_ink_mm2", "--faint": "faint_mm2"}


def find_pdfs(paths):
    files = []
    for path in paths:
        if os.path.isdir(path):
            found = []
            for folder, _, names in os.walk(path):
                found.extend(os.path.join(folder, n) for n in names
                             if n.lower().endswith(".pdf"))
            files.extend(sorted(found))
        else:
            files.append(path)
    return files


def detect_one(path, options):
    # Imported here so that each worker process loads the library once, on its first task,
    # and the scheduler's process never needs it.
    import leafsift
    try:
        return {"file": path, "blank": leafsift.detect(path, **options)}
    except (leafsift.LeafsiftError, OSError) as e:
        return {"file": path, "error": str(e)}


def run_sequential(files, options):
    for f in files:
        yield detect_one(f, options)


def run_dask(files, options, workers, scheduler):
    import dask
    from dask.distributed import Client, LocalCluster

    if scheduler:
        cluster = None
        client = Client(scheduler)
    else:
        # The nanny's MALLOC_TRIM_THRESHOLD_ would have every page raster returned to the
        # system and mapped again for the next page; workers keep the C library's own
        # adaptive default.
        environ = dict(dask.config.get("distributed.nanny.pre-spawn-environ", {}))
        environ.pop("MALLOC_TRIM_THRESHOLD_", None)
        with dask.config.set({"distributed.nanny.pre-spawn-environ": environ}):
            cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                   dashboard_address=None)
        client = Client(cluster)
    try:
        # Largest files first, so a big file does not start last and leave the other workers
        # idle at the end; the results are put back in input order.
        order = sorted(range(len(files)), key=lambda i: -_size(files[i]))
        futures = {i: client.submit(detect_one, files[i], options, pure=False,
                                    priority=len(files) - rank)
                   for rank, i in enumerate(order)}
        # Each line goes out as soon as it and every line before it are known, so a long run
        # shows its progress and its output can be piped on.
        for i in range(len(files)):
            yield futures[i].result()
            del futures[i]
    finally:
        client.close()
        if cluster is not None:
            cluster.close()


def _size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


def parse_args(argv):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("paths", nargs="+", metavar="PATH", help="PDF file or folder")
    p.add_argument("--workers", type=int, default=os.cpu_count() or 1,
                   help="worker processes of a local cluster; 0 runs in this process")
    p.add_argument("--scheduler", metavar="ADDRESS",
                   help="use the cluster of this scheduler, e.g. tcp://HOST:8786")
    p.add_argument("--rule", default="light", choices=["light", "scan"])
    p.add_argument("--threshold", "-t", type=int, default=99)
    for flag, key in SCAN_FLAGS.items():
        p.add_argument(flag, dest=key, type=float, metavar="N")
    args = p.parse_args(argv)
    if args.workers < 0:
        p.error("--workers must be 0 or more")
    return args


def main(argv=None):
    args = parse_args(argv)
    options = {"threshold": args.threshold, "rule": args.rule}
    options.update({k: getattr(args, k) for k in SCAN_FLAGS.values()
                    if getattr(args, k) is not None})
    # Names are handed around as str; os.fsdecode keeps bytes that are not UTF-8 as
    # surrogates, which leafsift turns back into the same bytes.
    files = [os.fsdecode(f) for f in find_pdfs(args.paths)]
    if args.workers == 0 and not args.scheduler:
        results = run_sequential(files, options)
    else:
        results = run_dask(files, options, args.workers, args.scheduler)
    status = 0
    for r in results:
        print(json.dumps(r), flush=True)
        if "error" in r:
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main())
