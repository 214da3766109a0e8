"""The project's Wine environment, read from cmake/wine-env.sh."""
import os

ENV_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                          "..", "..", "cmake", "wine-env.sh")


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
