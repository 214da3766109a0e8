"""The project's Wine environment, read from cmake/wine-env.sh, and the
seeding of a prefix as a Windows installation (cmake/seed-windows.sh)."""
import os
import subprocess

CMAKE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake")
ENV_SCRIPT = os.path.join(CMAKE_DIR, "wine-env.sh")
SEED_SCRIPT = os.path.join(CMAKE_DIR, "seed-windows.sh")


def seed_windows(env):
    """Gives the prefix of `env` what Windows holds and Wine lacks."""
    subprocess.run(["sh", SEED_SCRIPT], env=env, check=True, timeout=300)


def wine_env(prefix, **settings):
    """os.environ with the prefix, the shared settings, then `settings`."""
    env = dict(os.environ, WINEPREFIX=prefix)
    with open(ENV_SCRIPT) as script:
        for line in script:
            if line.startswith("export "):
                name, value = line[len("export "):].strip().split("=", 1)
                env[name] = value
    env.update(settings)
    return env
