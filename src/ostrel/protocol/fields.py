"""Field numbers that both ends read or write on the wire without parsing
the whole message, taken from the descriptors."""

from ostrel.api import data_pb2, system_pb2

RECORDS_FIELD = data_pb2.DataRecords.DESCRIPTOR.fields_by_name["records"].number
# A state's status, read without the images the state carries.
STATE_STATUS_FIELD = system_pb2.SystemState.DESCRIPTOR.fields_by_name["status"].number
