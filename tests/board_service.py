"""A board service of our own, built on spyne as a real SOAP service is, for the tests.

    board_service.py PORT_FILE REQUESTS

Listens on 127.0.0.1 on a port the kernel picks, writes that port to PORT_FILE (a FIFO, so
that the test waits on it rather than sleeping), answers REQUESTS requests and stops. Each
path is one shape of reply:

    /wrapped          SOAP 1.1, the missions in the operation's result element
    /header           the same with a SOAP Header (a request id) before the Body
    /bare             the missions directly in the response element, one level higher
    /soap12           SOAP 1.2, wrapped
    /arrays           wrapped, each mission's dates and station names written as spyne's Arrays:
                      a list element holding one item for each value
    /fault            a SOAP 1.1 fault, with HTTP status 500
    /action           wrapped, but only for the SOAPAction "urn:example:board:getBoard", as a
                      service that picks its operation by that header does; any other gets a
                      fault

    /encoded          rpc/encoded, as a service of SOAP encoding writes it: each mission's dates
                      as an array of items, its direction a reference to a value written apart
                      in the Body. Spyne writes no SOAP encoding, so these bytes are our own,
                      served beside its replies.

"-indented" after a path gives the same reply laid out with indentation.
"""

import sys
import logging
from wsgiref.simple_server import WSGIRequestHandler, make_server

from spyne import Application, Array, ComplexModel, ServiceBase, Unicode, rpc
from spyne.model.fault import Fault
from spyne.protocol.soap import Soap11, Soap12
from spyne.server.wsgi import WsgiApplication

NAMESPACE = "urn:example:board"


class direction(ComplexModel):
    __namespace__ = NAMESPACE
    _type_info = [("name", Unicode), ("sens", Unicode)]


class stations(ComplexModel):
    __namespace__ = NAMESPACE
    _type_info = [("name", Unicode(max_occurs="unbounded"))]


class missions(ComplexModel):
    __namespace__ = NAMESPACE
    _type_info = [
        ("stationsMessages", Unicode),
        ("stations", stations),
        ("stationsDates", Unicode(max_occurs="unbounded")),
        ("direction", direction),
    ]


# The missions of the Arrays' board are types of their own, in a namespace of their own.
ARRAYS_NAMESPACE = "urn:example:board:arrays"


class directionOfArrays(ComplexModel):
    __namespace__ = ARRAYS_NAMESPACE
    __type_name__ = "direction"
    _type_info = [("name", Unicode), ("sens", Unicode)]


class stationsOfArrays(ComplexModel):
    __namespace__ = ARRAYS_NAMESPACE
    __type_name__ = "stations"
    _type_info = [("name", Array(Unicode))]


class missionsOfArrays(ComplexModel):
    __namespace__ = ARRAYS_NAMESPACE
    __type_name__ = "missions"
    _type_info = [
        ("stationsMessages", Unicode),
        ("stations", stationsOfArrays),
        ("stationsDates", Array(Unicode)),
        ("direction", directionOfArrays),
    ]


class requestInfo(ComplexModel):
    __namespace__ = NAMESPACE
    _type_info = [("requestId", Unicode)]


class getBoard(ComplexModel):
    __namespace__ = NAMESPACE
    _type_info = [("station", Unicode)]


def board():
    """A departed train, then the one at the platform, then one delayed."""
    return [
        missions(stationsMessages="Train parti", stations=stations(name=["Hollin Cross"]),
                 stationsDates=["2026-12-09T06:58:00"],
                 direction=direction(name="Hollin Cross", sens="R")),
        missions(stationsMessages="Train à quai",
                 stations=stations(name=["Orrin Bridge", "Vellacombe"]),
                 stationsDates=["2026-12-09T07:04:00", "2026-12-09T07:05:00"],
                 direction=direction(name="Vellacombe", sens="A")),
        missions(stationsMessages="Retardé", stations=stations(name=["Saltmarsh Lane"]),
                 stationsDates=["2026-12-09T07:11:00"],
                 direction=direction(name="Saltmarsh Lane", sens="A")),
    ]


def board_of_arrays():
    return [
        missionsOfArrays(stationsMessages=mission.stationsMessages,
                         stations=stationsOfArrays(name=mission.stations.name),
                         stationsDates=mission.stationsDates,
                         direction=directionOfArrays(name=mission.direction.name,
                                                     sens=mission.direction.sens))
        for mission in board()
    ]


class BoardOfArrays(ServiceBase):
    @rpc(Unicode, _returns=Array(missionsOfArrays))
    def getBoard(ctx, station):
        return board_of_arrays()


class WrappedBoard(ServiceBase):
    @rpc(Unicode, _returns=Array(missions))
    def getBoard(ctx, station):
        return board()


class BoardWithHeader(ServiceBase):
    __out_header__ = requestInfo

    @rpc(Unicode, _returns=Array(missions))
    def getBoard(ctx, station):
        ctx.out_header = requestInfo(requestId="r-20261209-0704")
        return board()


class BareBoard(ServiceBase):
    @rpc(getBoard, _returns=Array(missions), _body_style="bare")
    def getBoard(ctx, request):
        return board()


class ClosedBoard(ServiceBase):
    @rpc(Unicode, _returns=Array(missions))
    def getBoard(ctx, station):
        raise Fault(faultcode="Client", faultstring="Unknown board")


SERVICES = {
    "/wrapped": (WrappedBoard, Soap11),
    "/header": (BoardWithHeader, Soap11),
    "/bare": (BareBoard, Soap11),
    "/soap12": (WrappedBoard, Soap12),
    "/arrays": (BoardOfArrays, Soap11),
    "/fault": (ClosedBoard, Soap11),
    "/action": (WrappedBoard, Soap11),
}
REQUIRED_ACTION = '"urn:example:board:getBoard"'


def application(service, protocol, indented):
    # Each application of spyne is registered under its name and namespace: a name of its own
    # keeps them apart.
    name = service.__name__ + ("Indented" if indented else "")
    return WsgiApplication(Application(
        [service], NAMESPACE, name=name, in_protocol=protocol(validator="lxml"),
        out_protocol=protocol(pretty_print=indented)))


APPLICATIONS = {
    path + ("-indented" if indented else ""): application(service, protocol, indented)
    for path, (service, protocol) in SERVICES.items() for indented in (False, True)
}


def refuse_action(start_response):
    envelope = ('<?xml version="1.0" encoding="UTF-8"?><soap:Envelope '
                'xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"><soap:Body><soap:Fault>'
                '<faultcode>soap:Client</faultcode><faultstring>No operation for this SOAPAction'
                '</faultstring></soap:Fault></soap:Body></soap:Envelope>').encode()
    start_response("500 Internal Server Error", [("Content-Type", "text/xml; charset=utf-8"),
                                                  ("Content-Length", str(len(envelope)))])
    return [envelope]


ENCODED_BOARD = """<?xml version="1.0" encoding="UTF-8"?>
<soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"
    xmlns:soapenc="http://schemas.xmlsoap.org/soap/encoding/"
    xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"
    xmlns:xsd="http://www.w3.org/2001/XMLSchema"
    soap:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><soap:Body><ns1:getBoardResponse
 xmlns:ns1="urn:example:board"><getBoardReturn soapenc:arrayType="ns1:missions[2]"
 xsi:type="soapenc:Array"><item xsi:type="ns1:missions"><stationsMessages
 xsi:type="xsd:string">Train parti</stationsMessages><stationsDates
 soapenc:arrayType="xsd:dateTime[1]"><item>2026-12-09T06:58:00</item></stationsDates><direction
 href="#id1"/></item><item xsi:type="ns1:missions"><stationsMessages
 xsi:type="xsd:string">Train \u00e0 quai</stationsMessages><stationsDates
 soapenc:arrayType="xsd:dateTime[2]"><item>2026-12-09T07:04:00</item><item
 >2026-12-09T07:05:00</item></stationsDates><direction href="#id2"/></item></getBoardReturn
 ></ns1:getBoardResponse><multiRef id="id1"><name>Hollin Cross</name><sens>R</sens></multiRef
 ><multiRef id="id2"><name>Vellacombe</name><sens>A</sens></multiRef></soap:Body></soap:Envelope>
""".replace("\n ", " ").encode()


def serve_encoded(start_response):
    start_response("200 OK", [("Content-Type", "text/xml; charset=utf-8"),
                              ("Content-Length", str(len(ENCODED_BOARD)))])
    return [ENCODED_BOARD]


def dispatch(environ, start_response):
    path = environ.get("PATH_INFO", "")
    if path == "/encoded":
        return serve_encoded(start_response)
    served = APPLICATIONS.get(path)
    if served is None:
        start_response("404 Not Found", [("Content-Type", "text/plain")])
        return [b"no such board\n"]
    if path.startswith("/action") and environ.get("HTTP_SOAPACTION") != REQUIRED_ACTION:
        return refuse_action(start_response)
    return served(environ, start_response)


class QuietHandler(WSGIRequestHandler):
    def log_message(self, *arguments):
        pass


def main():
    # spyne logs every fault it sends as an error of the service; the test reads the reply.
    logging.disable(logging.CRITICAL)
    server = make_server("127.0.0.1", 0, dispatch, handler_class=QuietHandler)
    server.timeout = 60
    with open(sys.argv[1], "w") as port_file:
        port_file.write(str(server.server_port))
    for _ in range(int(sys.argv[2])):
        server.handle_request()


if __name__ == "__main__":
    main()
