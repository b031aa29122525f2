#!/usr/bin/env python3
"""Writes the client's models and images into a resources folder.

    assetgen.py [OUTPUT_DIR]          default: Resources/ of the repository
    assetgen.py --check [OUTPUT_DIR]  regenerate into a scratch folder and compare

Everything is made procedurally and deterministically: each run writes the same bytes.
The font is not made here; scripts/setup-resources.sh installs it.
"""

import filecmp
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import models  # noqa: E402
import textures  # noqa: E402

FILES = ["fighter.obj", "shot.obj", "carrier.obj", "texture-white.png",
         "carrier-texture-white.png", "BOOOM.png", "skybox.png"]


def generate(out):
    os.makedirs(out, exist_ok=True)
    models.fighter().write_obj(os.path.join(out, "fighter.obj"), "fighter (forward +z)")
    models.shot().write_obj(os.path.join(out, "shot.obj"), "shot (forward +z)")
    models.carrier().write_obj(os.path.join(out, "carrier.obj"), "carrier (forward +z)")
    textures.hull_texture(os.path.join(out, "texture-white.png"), 256, 64, 32, 3, False)
    textures.hull_texture(os.path.join(out, "carrier-texture-white.png"), 512, 64, 32, 5, True)
    textures.explosion(os.path.join(out, "BOOOM.png"))
    textures.skybox(os.path.join(out, "skybox.png"))


def main(argv):
    repo = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
    args = [a for a in argv if a != "--check"]
    out = args[0] if args else os.path.join(repo, "Resources")
    if "--check" not in argv:
        generate(out)
        return 0
    with tempfile.TemporaryDirectory() as scratch:
        generate(scratch)
        differing = [f for f in FILES
                     if not os.path.exists(os.path.join(out, f))
                     or not filecmp.cmp(os.path.join(out, f), os.path.join(scratch, f),
                                        shallow=False)]
    for f in differing:
        print("differs from a fresh run: " + f)
    return 1 if differing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
