"""The package's exception and warning classes."""


class Error(ValueError):
    """A model that cannot be built or fitted, or data that cannot be read.

    The message is the one the mcreg program prints; ``status`` is the
    library's status code when the library failed, otherwise the program's
    exit code (2 for a wrong request, 3 for data that cannot be fitted).
    """

    def __init__(self, message, status=0):
        super().__init__(message)
        self.status = status


class McregWarning(UserWarning):
    """What a fit or an analysis says the user should know."""
