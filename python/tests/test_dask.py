"""adjust_folder on a LocalCluster of two worker processes, against the C
tool's output for the same files."""

from __future__ import annotations

import subprocess

import distributed

import bitmaps
from bmpcontrast.dask import adjust_folder


def test_folder_over_two_worker_processes(tmp_path, tool):
    src, dst, ref = tmp_path / "src", tmp_path / "dst", tmp_path / "ref"
    src.mkdir()
    ref.mkdir()
    names = [f"img{i:02}.bmp" for i in range(9)] + ["été.BMP"]
    for i, name in enumerate(names):
        (src / name).write_bytes(bitmaps.build(5 + i, 3, (8, 24, 32)[i % 3], seed=i))
    (src / "broken.bmp").write_bytes(b"BM\0\0")
    (src / "notes.txt").write_text("not a bitmap")
    for name in names:
        subprocess.run([tool, src / name, ref / name, "150"], check=True, capture_output=True)

    with distributed.LocalCluster(n_workers=2, processes=True, threads_per_worker=1,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        table = adjust_folder(client, src, dst, 150, batch_size=3)
        workers = set(client.run(lambda: 1))

    assert len(workers) == 2
    by_name = {r["src"].rsplit("/", 1)[1]: r for r in table}
    assert sorted(by_name) == sorted(names + ["broken.bmp"])
    assert (by_name["broken.bmp"]["code"], by_name["broken.bmp"]["name"]) == (1333, "HeaderReadFailed")
    assert "HeaderReadFailed" in by_name["broken.bmp"]["error"]
    for name in names:
        assert (by_name[name]["code"], by_name[name]["error"]) == (999, None)
        assert (dst / name).read_bytes() == (ref / name).read_bytes(), name
