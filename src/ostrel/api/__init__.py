"""Message modules (``<name>_pb2``) and the service module (``service_pb2_grpc``)."""
