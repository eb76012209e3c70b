#!/usr/bin/python3
"""Writes a stand-in for the SFace recogniser to the path given.

It has SFace's interface (input "data" 1x3x112x112 float, output 1x128) and
tells one picture from another, but knows nothing about identity: crops of
the same photo score high against each other, other photos do not. Only the
test installations use it; the real model cannot be fetched in the tests.

Built from layers OpenCV 4.6's ONNX importer takes: AveragePool 14x14 stride
14, one 8x8 convolution to 128 channels and a Reshape (ReduceMean and Flatten
trip that importer). The convolution is a seeded random projection with each
picture's mean removed, folded into the weights, so brightness alone does not
make two pictures alike.
"""

import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

SEED = 20211201
OPSET = 11


def build_model():
    rng = np.random.default_rng(SEED)
    weights = rng.standard_normal((128, 3, 8, 8)).astype(np.float32)
    # w . (x - mean(x)) == (w - mean(w)) . x
    weights -= weights.reshape(128, -1).mean(axis=1).reshape(128, 1, 1, 1)
    weights /= np.sqrt(3 * 8 * 8)
    shape = np.array([1, 128], dtype=np.int64)

    nodes = [
        helper.make_node("AveragePool", ["data"], ["pooled"], kernel_shape=[14, 14],
                         strides=[14, 14]),
        helper.make_node("Conv", ["pooled", "proj_w"], ["projected"], kernel_shape=[8, 8]),
        helper.make_node("Reshape", ["projected", "out_shape"], ["fc1"]),
    ]
    graph = helper.make_graph(
        nodes,
        "stand_in_sface",
        [helper.make_tensor_value_info("data", TensorProto.FLOAT, [1, 3, 112, 112])],
        [helper.make_tensor_value_info("fc1", TensorProto.FLOAT, [1, 128])],
        initializer=[numpy_helper.from_array(weights, "proj_w"),
                     numpy_helper.from_array(shape, "out_shape")],
    )
    model = helper.make_model(graph, producer_name="qlcore-tests",
                              opset_imports=[helper.make_opsetid("", OPSET)])
    model.ir_version = 7
    onnx.checker.check_model(model)
    return model


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: make_test_recognizer.py OUTPUT.onnx\n")
        return 2
    out = sys.argv[1]
    tmp = out + ".tmp%d" % os.getpid()
    onnx.save(build_model(), tmp)
    os.replace(tmp, out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
