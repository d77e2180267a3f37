# SPDX-License-Identifier: MIT
"""A stack of images as a dask.array, blended with map_blocks on a local
cluster of two worker processes: the same bytes as one call here."""
import os

import dask.array as da
import numpy as np
import pytest
from distributed import Client, LocalCluster

import byteblend
from conftest import random_bytes


@pytest.fixture(scope="module")
def client():
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, \
            Client(cluster) as connected:
        yield connected


def test_two_worker_processes(client):
    pids = client.run(os.getpid)
    assert len(set(pids.values())) == 2
    assert os.getpid() not in pids.values()


@pytest.mark.parametrize("mode", ["screen", "color-burn", "green-channel"])
def test_map_blocks_gives_the_bytes_of_one_call(client, mode):
    tops = random_bytes((6, 90, 160, 3), 1)
    bottoms = random_bytes((6, 90, 160, 3), 2)
    top = da.from_array(tops, chunks=(1, 45, -1, -1))
    bottom = da.from_array(bottoms, chunks=(1, 45, -1, -1))
    blended = da.map_blocks(byteblend.blend, mode, top, bottom,
                            dtype=np.uint8)
    result = client.compute(blended).result()
    np.testing.assert_array_equal(result,
                                  byteblend.blend(mode, tops, bottoms))


# Chunks that split the last axis hand a channel mode blocks of one or two
# values a pixel: the error says to keep that axis whole. No cluster needed.
@pytest.mark.parametrize("last_chunks", [1, 2, (1, 2)])
def test_channel_mode_on_chunks_that_split_the_pixels(last_chunks):
    tops = random_bytes((2, 8, 10, 3), 1)
    bottoms = random_bytes((2, 8, 10, 3), 2)
    top = da.from_array(tops, chunks=(1, -1, -1, last_chunks))
    bottom = da.from_array(bottoms, chunks=(1, -1, -1, last_chunks))
    blended = da.map_blocks(byteblend.red_channel, top, bottom,
                            dtype=np.uint8)
    with pytest.raises(ValueError, match=r"red-channel blends packed RGB "
                       r"pixels, but top has shape \(1, 8, 10, [12]\).*keep "
                       r"the last axis in one chunk: map_blocks over "
                       r"array\.rechunk\(\{-1: -1\}\)"):
        blended.compute(scheduler="synchronous")
    whole = da.map_blocks(byteblend.red_channel, top.rechunk({-1: -1}),
                          bottom.rechunk({-1: -1}), dtype=np.uint8)
    np.testing.assert_array_equal(whole.compute(scheduler="synchronous"),
                                  byteblend.red_channel(tops, bottoms))
