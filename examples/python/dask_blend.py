"""Blend a stack of images held as a dask.array on a local Dask cluster of
two worker processes, block by block, and check the bytes against one call
in this process.

    python3 dask_blend.py
"""
import numpy as np
import dask.array as da
from distributed import Client, LocalCluster

import byteblend


def main() -> None:
    rng = np.random.default_rng(2024)
    tops = rng.integers(0, 256, (8, 270, 480, 3), np.uint8)
    bottoms = rng.integers(0, 256, (8, 270, 480, 3), np.uint8)

    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, \
            Client(cluster) as client:
        top = da.from_array(tops, chunks=(2, -1, -1, -1))
        bottom = da.from_array(bottoms, chunks=(2, -1, -1, -1))
        # Each block is a small stack of whole images; one thread a worker.
        blended = da.map_blocks(byteblend.color_dodge, top, bottom,
                                threads=1, dtype=np.uint8)
        result = client.compute(blended).result()

    assert np.array_equal(result, byteblend.color_dodge(tops, bottoms))
    print(f"color-dodge of {len(tops)} images on 2 workers: same bytes as "
          "one call")


if __name__ == "__main__":
    main()
