"""The call metadata both ends speak: a token travels as
`authorization: Bearer <token>`, and a push of an empty project is taken
only with `ostrel-allow-empty: 1`."""

TOKEN_HEADER = "authorization"
BEARER = "Bearer "
# Call metadata with which a client asks the server to take an empty project.
ALLOW_EMPTY_METADATA = "ostrel-allow-empty"
ALLOW_EMPTY_VALUES = ("1", "true", "yes")
