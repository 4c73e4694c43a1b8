// Demo: the test node's own user interface. It shows its node's
// information, calls the node's echo function 16 when the button is pressed,
// shows the node's statistics counters (refreshed every second, appended to
// a CSV file on request), plots the node's event 16 (TICK) live and prints
// the node changes the program sees.

var echo = {
    fid: 16,
    request: [{value: dtype.INT32U}],
    response: [{value: dtype.INT32U}]
};
var calls = 0;

// The statistics counters, in the order the node reports them.
var counters = ['frameTx', 'frameRx', 'crcError', 'routing', 'routingError', 'retries', 'maxRetries',
                'retransmit', 'unknownNode', 'unknownFunction', 'unknownEvent', 'unexpResponse',
                'rxqueueFull'];

// Event 16 carries the tick count and a value that follows a slow sine wave.
var tickWindow = 30; // seconds of values kept and shown
var alignRight = 0x82; // Qt::AlignRight | Qt::AlignVCenter
var textAlignmentRole = 7;

function setupStatistics(ui, node) {
    var table = ui.statisticsTable;
    for (var i = 0; i < counters.length; ++i)
        table.insertRowData([counters[i]]);
    // The names as wide as they are, the values in the rest.
    table.resizeColumnToContents(0);

    function show(statistics) {
        for (var i = 0; i < counters.length; ++i) {
            table.setItemData(i, 1, statistics[counters[i]]);
            table.setItemData(i, 1, alignRight, textAlignmentRole);
        }
    }

    // One query at a time: a slow node does not pile them up.
    var pending = false;
    function refresh() {
        if (pending)
            return;
        pending = true;
        erfc.nodeStatistics(node, function (statistics) {
            pending = false;
            show(statistics);
        });
    }
    refresh();
    timer.start(1000, refresh);

    // Relative: the file goes to the program's current folder.
    var fileName = 'node' + node + '-statistics.csv';
    var header = ['time'].concat(counters).join(',') + '\n';

    function finish(failure) {
        ui.csvButton.enabled = true;
        ui.csvLabel.text = failure === null ? 'Written to ' + fileName : 'Not written: ' + failure;
    }

    function append(line, withHeader) {
        fs.open(fileName, fs.OPEN_WRITE_ONLY | fs.OPEN_APPEND, {
            ok: function (file) {
                var failure = null;
                function fail(result) {
                    if (failure === null)
                        failure = result.message;
                }
                fs.write(file, (withHeader ? header : '') + line, {error: fail});
                fs.flush(file, {error: fail});
                fs.close(file, {always: function () { finish(failure); }});
            },
            error: function (result) { finish(result.message); }
        });
    }

    // A file that is new or empty gets the header line first.
    function save(statistics) {
        var values = [new Date().toISOString()];
        for (var i = 0; i < counters.length; ++i)
            values.push(statistics[counters[i]]);
        var line = values.join(',') + '\n';
        fs.open(fileName, fs.OPEN_READ_ONLY, {
            ok: function (file) {
                fs.read(file, 1, {always: function (result) {
                    fs.close(file);
                    append(line, !(result.data_length > 0));
                }});
            },
            error: function () { append(line, true); }
        });
    }

    ui.csvButton.clicked.connect(function () {
        ui.csvButton.enabled = false;
        ui.csvLabel.text = 'Writing ' + fileName;
        erfc.nodeStatistics(node, function (statistics) {
            show(statistics);
            save(statistics);
        });
    });
}

// Time ticks on whole seconds: the smallest of these steps that leaves the
// labels room at the plot's present width, so that a narrow window shows
// fewer of them rather than numbers running into each other.
var timeSteps = [{step: 5, subTicks: 4}, {step: 10, subTicks: 4}, {step: 15, subTicks: 2},
                 {step: 30, subTicks: 2}];

function setTimeTicks(plot) {
    var axis = plot.getAxisConfiguration(JsPlot.AxisX0);
    var range = axis.range;
    var size = range.upper - range.lower;
    if (!(size > 0))
        return;
    // Sizes in the label font's size (points taken at 96 per inch): a digit
    // is about 0.6 of it wide, the value axis and the margins take about 7
    // of it, and a label wants one of it free beside it.
    var font = axis.tickLabelFont;
    var em = font.pixelSize > 0 ? font.pixelSize : (font.pointSizeF > 0 ? font.pointSizeF : 9) * 96 / 72;
    var digits = String(Math.floor(Math.max(Math.abs(range.lower), Math.abs(range.upper)))).length;
    var labelRoom = (0.6 * (digits + (range.lower < 0 ? 1 : 0)) + 1) * em;
    var pixelsPerSecond = Math.max(plot.width - 7 * em, 1) / size;
    var chosen = timeSteps[timeSteps.length - 1];
    for (var i = 0; i < timeSteps.length; ++i) {
        if (timeSteps[i].step * pixelsPerSecond >= labelRoom) {
            chosen = timeSteps[i];
            break;
        }
    }
    // One tick beyond each end, so that the sub-ticks reach the ends.
    var ticks = [];
    var last = Math.ceil(range.upper / chosen.step);
    for (var n = Math.floor(range.lower / chosen.step); n <= last; ++n)
        ticks.push(n * chosen.step);
    plot.setAxisConfiguration(JsPlot.AxisX0, {tickVector: ticks, subTickCount: chosen.subTicks});
}

function setupTickPlot(ui, node) {
    var plot = ui.tickPlot;
    plot.addGraph('TICK');
    plot.setGraphConfiguration('TICK', {pen: {color: JsPlot.steelblue, widthF: 1.5}});
    // The values in half units; the time ticks are asked for at each replot.
    plot.setAxisConfiguration(JsPlot.AxisX0, {label: 'time [s]', autoTicks: false});
    plot.setAxisConfiguration(JsPlot.AxisY0, {label: 'value', autoTickStep: false, tickStep: 0.5});
    plot.axisTicksRequest.connect(function (axis) {
        if (axis == JsPlot.AxisX0)
            setTimeTicks(plot);
    });
    plot.setAxisRange(JsPlot.AxisY0, -1.25, 1.25);
    plot.setAxisRange(JsPlot.AxisX0, 0, tickWindow);

    var started = Date.now();
    function seconds() { return (Date.now() - started) / 1000; }

    var signature = {address: node, eid: 16, payload: [{sample: dtype.INT32U}, {value: dtype.FLOAT}]};
    erfc.connectToEvent(signature, function (event) {
        var value = event.payload.value;
        plot.addData('TICK', seconds(), value);
        ui.tickLabel.text = 'Sample ' + event.payload.sample + ': ' + value.toFixed(3);
    }, function (change) {
        if (change.state === erfc.EVENT_CONNECT_STATE_ERROR)
            ui.tickLabel.text = 'Cannot subscribe to TICK events';
        else if (change.state === erfc.EVENT_CONNECT_STATE_DISCONNECTED)
            ui.tickLabel.text = 'TICK events ended';
    });

    // The window scrolls with the clock; points that left it are dropped.
    timer.start(200, function () {
        var now = seconds();
        plot.removeDataBefore('TICK', now - tickWindow);
        if (now > tickWindow)
            plot.setAxisRange(JsPlot.AxisX0, now - tickWindow, now);
        plot.replot();
    });
}

function Entry(ui) {
    var node = instance.currentAddr();
    var info = erfc.nodeInfo(node);
    ui.nodeLabel.text = 'Node ' + node + ': ' + info.nodeDescription;
    ui.serialLabel.text = 'Serial number: ' + info.serial + ', unique id: ' + info.uniqueId;
    ui.modeLabel.text = 'Mode: ' + info.modeText;
    print('Demo started for node ' + node + ' (' + info.nodeDescription + ')');

    ui.callButton.clicked.connect(function () {
        calls += 1;
        var answer = erfc.sendBlocking(node, echo, {value: calls});
        if (answer.code === 0)
            ui.answerLabel.text = 'Answer: ' + answer.payload.value;
        else
            ui.answerLabel.text = 'Error: ' + answer.codeText;
        print('function 16 answered ' + answer.codeText);
    });

    setupStatistics(ui, node);
    setupTickPlot(ui, node);

    erfc.nodeUpdate(function (change) {
        print('node ' + change.address + ' ' + change.stateText + ' (' + change.modeText + ')');
    });
}

var information = {name: 'Demo', uifile: '/main.ui', entry: Entry};
