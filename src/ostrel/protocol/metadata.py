"""The call metadata both ends speak: a token travels as
`authorization: Bearer <token>`."""

TOKEN_HEADER = "authorization"
BEARER = "Bearer "
